#include "settings/InstanceLock.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>

#ifndef _WIN32
#include <unistd.h>
#endif

namespace qm {
namespace {

constexpr char kShowRequest[] = "show\n";
constexpr char kStatusRequest[] = "status\n";

}  // namespace

TInstanceLock::TInstanceLock(QString folder)
    : FFolder(std::move(folder)), FLock(QDir(FFolder).filePath(QString::fromLatin1(kFileName))) {
  // Only a dead holder makes a lock stale, never its age: the program runs for months.
  FLock.setStaleLockTime(0);
}

TInstanceLock::~TInstanceLock() = default;

bool TInstanceLock::Take() {
  FHeldElsewhere = false;
  FError.clear();
  // tryLock checks the holder's process id and removes the file of one that is gone. A
  // process of that number and name that does not answer on this folder's socket got the
  // number after the holder died; Qt removes the file only when no process holds its lock
  // (flock), so a holder that could not listen is never overruled.
  const auto taken = [this] {
    if (!FLock.tryLock(0)) return false;
    // Made with the process's umask; no one else has business with it.
    QFile::setPermissions(FLock.fileName(), QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    Listen();
    return true;
  };
  if (taken()) return true;
  if (FLock.error() == QLockFile::LockFailedError && !HolderAnswers(1000) && FLock.removeStaleLockFile() &&
      taken())
    return true;
  switch (FLock.error()) {
    case QLockFile::LockFailedError:
      FHeldElsewhere = true;
      break;
    case QLockFile::PermissionError:
      FError = QStringLiteral("the lock file %1 cannot be made here").arg(FLock.fileName());
      break;
    default:
      FError = QStringLiteral("the lock file %1 cannot be made").arg(FLock.fileName());
      break;
  }
  return false;
}

QString TInstanceLock::AlreadyRunningText() const {
  return QStringLiteral("Quillmark is already running with %1").arg(QDir::toNativeSeparators(FFolder));
}

QString TInstanceLock::ServerName() const {
  // One name per folder (and per user, where the local sockets of all users share a place).
  const QByteArray key = QFileInfo(FFolder).absoluteFilePath().toUtf8();
  QString name =
      QStringLiteral("quillmark-") +
      QString::fromLatin1(QCryptographicHash::hash(key, QCryptographicHash::Sha1).toHex().left(16));
#ifndef _WIN32
  name += QStringLiteral("-%1").arg(::getuid());
#endif
  return name;
}

void TInstanceLock::Listen() {
  FServer = std::make_unique<QLocalServer>();
  FServer->setSocketOptions(QLocalServer::UserAccessOption);
  // The lock is ours, so a socket left by a killed holder is stale.
  QLocalServer::removeServer(ServerName());
  if (!FServer->listen(ServerName())) {
    FServer.reset();
    return;
  }
  QLocalServer* server = FServer.get();
  QObject::connect(server, &QLocalServer::newConnection, server, [this, server] {
    while (QLocalSocket* socket = server->nextPendingConnection()) {
      QObject::connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
      QObject::connect(socket, &QLocalSocket::readyRead, socket, [this, socket] {
        const QByteArray request = socket->readAll();
        if (request.startsWith(kShowRequest) && FShow) FShow();
        if (request.startsWith(kStatusRequest) && FStatus) socket->write(FStatus());
        socket->disconnectFromServer();
      });
    }
  });
}

void TInstanceLock::ListenForShow(std::function<void()> show) {
  FShow = std::move(show);
}

bool TInstanceLock::HolderAnswers(int timeoutMs) const {
  QLocalSocket socket;
  socket.connectToServer(ServerName());
  const bool answered = socket.waitForConnected(timeoutMs);
  socket.abort();
  return answered;
}

bool TInstanceLock::AskHolderToShow(int timeoutMs) const {
  QLocalSocket socket;
  socket.connectToServer(ServerName());
  if (!socket.waitForConnected(timeoutMs)) return false;
  socket.write(kShowRequest);
  const bool sent = socket.waitForBytesWritten(timeoutMs);
  socket.disconnectFromServer();
  return sent;
}

std::optional<QByteArray> TInstanceLock::AskHolderStatus(int timeoutMs) const {
  QLocalSocket socket;
  socket.connectToServer(ServerName());
  if (!socket.waitForConnected(timeoutMs)) return std::nullopt;
  socket.write(kStatusRequest);
  if (!socket.waitForBytesWritten(timeoutMs)) return std::nullopt;
  QByteArray answer;
  // The holder answers and hangs up.
  while (socket.state() == QLocalSocket::ConnectedState && socket.waitForReadyRead(timeoutMs))
    answer += socket.readAll();
  answer += socket.readAll();
  if (answer.isEmpty()) return std::nullopt;
  return answer;
}

}  // namespace qm
