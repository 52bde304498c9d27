#include "print/PdfArchive.h"

#include <QDir>
#include <QFileInfo>

#include "print/PrintJobs.h"

#include <cmath>
#include <system_error>

#include "base/PrivateFiles.h"
#include "base/TrustedClock.h"

namespace qm {
namespace {

const QString kDayFormat = QStringLiteral("yyyy-MM-dd");

}  // namespace

QString TPdfArchive::NewFile(const QDateTime& when, int job) const {
  QDir day(QDir(FFolder).filePath(when.date().toString(kDayFormat)));
  // Pages of messages are the operator's only, as the data folder is.
  std::error_code made;
  MakePrivateFolders(day.path().toStdString(), made);
  if (made) throw EPrintError("Unable to create the archive folder \"" + day.path().toStdString() + "\"");
  const QString stem = when.time().toString(QStringLiteral("HHmmss")) + QStringLiteral("-job") +
                       (job > 0 ? QString::number(job) : QString());
  QString name = day.filePath(stem + QStringLiteral(".pdf"));
  for (int n = 2; QFileInfo::exists(name); ++n) name = day.filePath(stem + QStringLiteral("-%1.pdf").arg(n));
  return name;
}

int TPdfArchive::Purge(QDate today, int days) const {
  int removed = 0;
  const auto ahead = static_cast<qint64>(std::ceil(TTrustedClock::Shared().AheadDays()));
  const QDate oldest = today.addDays(-days - ahead);
  for (const QFileInfo& entry : QDir(FFolder).entryInfoList(QDir::Dirs | QDir::NoDotAndDotDot)) {
    const QDate date = QDate::fromString(entry.fileName(), kDayFormat);
    if (!date.isValid() || date >= oldest) continue;
    QDir day(entry.filePath());
    for (const QString& pdf : day.entryList({QStringLiteral("*.pdf")}, QDir::Files))
      if (day.remove(pdf)) ++removed;
    QDir(FFolder).rmdir(entry.fileName());  // stays when something else is in it
  }
  return removed;
}

}  // namespace qm
