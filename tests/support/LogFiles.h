// The program's log files in a folder, read as one text (Latin-1, as they are single-byte).
#pragma once

#include <QDir>
#include <QFile>
#include <QString>

namespace qm::test {

inline QString LogText(const QString& dir) {
  QString text;
  for (const QFileInfo& fi : QDir(dir).entryInfoList({QStringLiteral("*.log")}, QDir::Files)) {
    QFile f(fi.filePath());
    if (f.open(QIODevice::ReadOnly)) text += QString::fromLatin1(f.readAll());
  }
  return text;
}

}  // namespace qm::test
