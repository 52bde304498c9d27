// The archive of printed jobs: a PDF copy of every job that went to a printer, in a folder
// per day, <folder>/yyyy-MM-dd/hhmmss-job<number>.pdf, kept as long as the logs.
#pragma once

#include <QDate>
#include <QDateTime>
#include <QString>

namespace qm {

class TPdfArchive {
 public:
  explicit TPdfArchive(QString folder) : FFolder(std::move(folder)) {}

  const QString& Folder() const { return FFolder; }
  // A free name for the copy of spooler job `job` (0: none known) printed at `when`, its day's
  // folder made. Throws EPrintError when the folder cannot be made.
  QString NewFile(const QDateTime& when, int job) const;
  // Deletes the day folders dated more than `days` days before `today`, with the PDF files in
  // them; other files and folders are left alone. A wall clock that reads ahead of what the
  // steady clock backs (TTrustedClock) keeps that many days more. Returns how many files went.
  int Purge(QDate today, int days) const;

 private:
  QString FFolder;
};

}  // namespace qm
