// The program's log files in a folder, read as one text (Latin-1, as they are single-byte).
#pragma once

#include <QDir>
#include <QFile>
#include <QRegularExpression>
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

// How often a packet from `sender` ending in `body` is logged as accepted (a copy judged a repeat
// is logged as "Duplicate packet: ..." and not counted).
inline qsizetype TimesLogged(const QString& logText, const QString& sender, const QString& body) {
  const QRegularExpression line(QStringLiteral("^<[^>]*> ") + QRegularExpression::escape(sender + ">") +
                                ".*" + QRegularExpression::escape(body) + "\\r?$");
  return logText.split(u'\n').filter(line).size();
}

}  // namespace qm::test
