#include "web/BoardToken.h"

#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <stdexcept>

#include "base/PrivateFiles.h"

namespace qm {

namespace {

constexpr int kTokenBytes = 32;

bool IsToken(const QByteArray& text) {
  if (text.size() != kTokenBytes * 2) return false;
  for (char c : text)
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
  return true;
}

// From the system's generator (getrandom on Linux), never a seeded one.
QByteArray RandomHex() {
  QByteArray bytes(kTokenBytes, '\0');
  QRandomGenerator::system()->fillRange(reinterpret_cast<quint32*>(bytes.data()), kTokenBytes / 4);
  return bytes.toHex();
}

}  // namespace

std::string NewBoardSession() {
  return RandomHex().toStdString();
}

std::string BoardToken(const std::string& dataDir) {
  const QString path = QDir(QString::fromStdString(dataDir)).filePath(QString::fromLatin1(kBoardTokenFile));
  QFile file(path);
  if (file.exists()) {
    const QFile::Permissions others = QFile::ReadGroup | QFile::WriteGroup | QFile::ReadOther |
                                      QFile::WriteOther | QFile::ExeGroup | QFile::ExeOther;
    if ((file.permissions() & others) != 0 && !file.setPermissions(QFile::ReadOwner | QFile::WriteOwner))
      throw std::runtime_error("The board's token file " + path.toStdString() + " cannot be made private");
    if (!file.open(QIODevice::ReadOnly))
      throw std::runtime_error("The board's token file " + path.toStdString() +
                               " cannot be read: " + file.errorString().toStdString());
    const QByteArray kept = file.read(256).trimmed();
    if (IsToken(kept)) return kept.toStdString();
    file.close();
  }
  const QByteArray token = RandomHex();
  // Made private before a byte is in it (a temporary file and a rename would show it to
  // others for a moment); one cut short holds no token and is made again at the next start.
  if (!CreatePrivateFile(path.toStdString()))
    throw std::runtime_error("The board's token file " + path.toStdString() + " cannot be made");
  QFile out(path);
  if (!out.open(QIODevice::WriteOnly | QIODevice::Truncate) || out.write(token + '\n') != token.size() + 1 ||
      !out.flush())
    throw std::runtime_error("The board's token file " + path.toStdString() +
                             " cannot be written: " + out.errorString().toStdString());
  return token.toStdString();
}

}  // namespace qm
