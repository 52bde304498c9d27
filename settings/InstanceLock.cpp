#include "settings/InstanceLock.h"

#include <QCryptographicHash>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QStringList>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <pwd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>
#ifdef __linux__
#include <sys/sysmacros.h>
#endif
#endif

namespace qm {
namespace {

constexpr char kShowRequest[] = "show\n";
constexpr char kStatusRequest[] = "status\n";
constexpr char kAcknowledgeRequest[] = "acknowledge";
constexpr char kSendRequest[] = "send ";
constexpr char kCancelSendRequest[] = "cancel-send ";
// The holder's answer to a show request: its window came forward, or it runs without one.
constexpr char kShownAnswer[] = "shown\n";
constexpr char kNoWindowAnswer[] = "no window\n";

QString FolderDigest(const QString& folder) {
  const QByteArray key = QFileInfo(folder).absoluteFilePath().toUtf8();
  return QString::fromLatin1(QCryptographicHash::hash(key, QCryptographicHash::Sha1).toHex().left(16));
}

// Where a socket may be: the name Qt takes, the path it stands for (to say), and the folder
// kept open while the name leads through it.
struct TPlace {
  QString Name;
  QString Shown;
  int Folder = -1;

  TPlace(QString name, QString shown, int folder = -1)
      : Name(std::move(name)), Shown(std::move(shown)), Folder(folder) {}
  TPlace(TPlace&& other) noexcept
      : Name(std::move(other.Name)), Shown(std::move(other.Shown)), Folder(other.Folder) {
    other.Folder = -1;
  }
  TPlace(const TPlace&) = delete;
  TPlace& operator=(const TPlace&) = delete;
  TPlace& operator=(TPlace&&) = delete;
  ~TPlace() {
#ifndef _WIN32
    if (Folder >= 0) ::close(Folder);
#endif
  }
};

#ifdef _WIN32

// Named pipes have a place of their own; the name is per folder, and Qt makes it the user's.
std::vector<TPlace> Places(const QString& folder, QStringList&) {
  std::vector<TPlace> places;
  const QString name = QStringLiteral("quillmark-") + FolderDigest(folder);
  places.emplace_back(name, name);
  return places;
}

// The pipe's server is the lock's holder: a pipe name is open to anyone first, the lock file
// is in the user's own folder.
QString Stranger(const QLocalSocket& socket, qint64 holder) {
  ULONG pid = 0;
  if (!GetNamedPipeServerProcessId(reinterpret_cast<HANDLE>(socket.socketDescriptor()), &pid))
    return QStringLiteral("a process that cannot be told");
  if (holder != 0 && static_cast<qint64>(pid) == holder) return {};
  return QStringLiteral("process %1").arg(pid);
}

// The account of the user at the other end: a pipe of the user's own.
QString PeerAccount(const QLocalSocket&) {
  return qEnvironmentVariable("USERNAME");
}

#else

constexpr char kSocketFile[] = "Quillmark.sock";

// "" when no other user can make a socket in the folder open as `fd`, else what is wrong.
QString PrivateFolderProblem(int fd) {
  struct stat st {};
  if (fd < 0 || ::fstat(fd, &st) != 0) return QString::fromLocal8Bit(std::strerror(errno));
  if (!S_ISDIR(st.st_mode)) return QStringLiteral("not a folder");
  if (st.st_uid != ::geteuid()) return QStringLiteral("another user's");
  if ((st.st_mode & (S_IWGRP | S_IWOTH)) != 0)
    return QStringLiteral("writable by others (mode %1)").arg(st.st_mode & 0777, 0, 8);
  return {};
}

// `file` in `folder`, when the folder is private. On Linux the name leads through the folder
// as it was checked (a path swapped meanwhile is not followed), and a path too long for a
// socket address still takes its socket.
void AddPlace(std::vector<TPlace>& places, QStringList& skipped, const QString& folder, const QString& file) {
  const int fd = ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (const QString problem = PrivateFolderProblem(fd); !problem.isEmpty()) {
    if (fd >= 0) ::close(fd);
    skipped << QStringLiteral("%1 is %2").arg(folder, problem);
    return;
  }
  const QString path = folder + QLatin1Char('/') + file;
#ifdef __linux__
  places.emplace_back(QStringLiteral("/proc/self/fd/%1/%2").arg(fd).arg(file), path, fd);
#else
  ::close(fd);
  if (static_cast<std::size_t>(QFile::encodeName(path).size()) < sizeof(sockaddr_un::sun_path))
    places.emplace_back(path, path);
  else
    skipped << QStringLiteral("%1 is too long for a socket").arg(path);
#endif
}

// Beside the lock first: every asker finds the folder, whatever its environment (a cron job
// has no XDG_RUNTIME_DIR); the runtime folder serves a data folder that takes no sockets.
std::vector<TPlace> Places(const QString& folder, QStringList& skipped) {
  std::vector<TPlace> places;
  AddPlace(places, skipped, QFileInfo(folder).absoluteFilePath(), QString::fromLatin1(kSocketFile));
  const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
  if (QDir::isAbsolutePath(runtime))
    AddPlace(places, skipped, QDir::cleanPath(runtime),
             QStringLiteral("quillmark-%1.sock").arg(FolderDigest(folder)));
  return places;
}

// Who is at the other end of `socket`, "" when it is the lock's holder of this user.
QString Stranger(const QLocalSocket& socket, qint64 holder) {
  const int fd = static_cast<int>(socket.socketDescriptor());
#ifdef __linux__
  ucred peer{};
  socklen_t size = sizeof peer;
  if (::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &size) != 0)
    return QStringLiteral("a process that cannot be told");
  if (peer.uid == ::geteuid() && holder != 0 && peer.pid == holder) return {};
  return QStringLiteral("process %1 of user %2").arg(peer.pid).arg(peer.uid);
#else
  // Only the user is told here, not the process: a socket in a folder of the user's own.
  uid_t uid = 0;
  gid_t gid = 0;
  if (::getpeereid(fd, &uid, &gid) != 0) return QStringLiteral("a process that cannot be told");
  if (uid == ::geteuid() && holder != 0) return {};
  return QStringLiteral("a process of user %1").arg(uid);
#endif
}

// The account name of the user at the other end of `socket` (its number when it has none).
QString PeerAccount(const QLocalSocket& socket) {
  const int fd = static_cast<int>(socket.socketDescriptor());
  uid_t uid = ::geteuid();
#ifdef __linux__
  ucred peer{};
  socklen_t size = sizeof peer;
  if (::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &size) == 0) uid = peer.uid;
#else
  gid_t gid = 0;
  ::getpeereid(fd, &uid, &gid);
#endif
  passwd entry{};
  passwd* found = nullptr;
  std::vector<char> buffer(16384);
  if (::getpwuid_r(uid, &entry, buffer.data(), buffer.size(), &found) == 0 && found && found->pw_name)
    return QString::fromLocal8Bit(found->pw_name);
  return QString::number(uid);
}

#endif

}  // namespace

TInstanceLock::TInstanceLock(QString folder)
    : FFolder(std::move(folder)), FLock(QDir(FFolder).filePath(QString::fromLatin1(kFileName))) {
  // Only a dead holder makes a lock stale, never its age: the program runs for months.
  FLock.setStaleLockTime(0);
}

TInstanceLock::~TInstanceLock() {
  // The socket file goes while the folder it was made through is still open.
  FServer.reset();
#ifndef _WIN32
  if (FSocketFolder >= 0) ::close(FSocketFolder);
#endif
}

bool TInstanceLock::Take() {
  FHeldElsewhere = false;
  FError.clear();
  // tryLock checks the holder's process id and removes the file of one that is gone. A
  // process of that number and name that does not answer as the holder on this folder's
  // socket got the number after the holder died; Qt removes the file only when no process
  // holds its lock (flock), so a holder that could not listen is never overruled.
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

void TInstanceLock::Listen() {
  FListenError.clear();
  QStringList why;
  for (TPlace& place : Places(FFolder, why)) {
    auto server = std::make_unique<QLocalServer>();
    // Qt makes the socket in a private folder of its own beside it first: never open to others.
    server->setSocketOptions(QLocalServer::UserAccessOption);
    // The lock is ours, so a socket left by a killed holder is stale.
    QLocalServer::removeServer(place.Name);
    if (!server->listen(place.Name)) {
      why << QStringLiteral("%1: %2").arg(place.Shown, server->errorString());
      continue;
    }
    FServer = std::move(server);
    FSocketFolder = place.Folder;
    place.Folder = -1;
    break;
  }
  if (!FServer) {
    FListenError =
        QStringLiteral(
            "no socket for --status and later starts (%1); a later start trusts the "
            "lock file alone")
            .arg(why.isEmpty() ? QStringLiteral("no place for one") : why.join(QStringLiteral("; ")));
    return;
  }
  QLocalServer* server = FServer.get();
  QObject::connect(server, &QLocalServer::newConnection, server, [this, server] {
    while (QLocalSocket* socket = server->nextPendingConnection()) {
      QObject::connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
      QObject::connect(socket, &QLocalSocket::readyRead, socket, [this, socket] {
        const QByteArray request = socket->readAll();
        if (request.startsWith(kShowRequest)) {
          if (FShow) FShow();
          socket->write(FShow ? kShownAnswer : kNoWindowAnswer);
        }
        if (request.startsWith(kStatusRequest) && FStatus) socket->write(FStatus());
        if (request.startsWith(kAcknowledgeRequest) && request.endsWith('\n') && FAcknowledge)
          socket->write(
              FAcknowledge(request.mid(sizeof kAcknowledgeRequest - 1).trimmed(), PeerAccount(*socket)));
        if (request.startsWith(kSendRequest) && request.endsWith('\n') && FSend)
          socket->write(FSend(request.mid(sizeof kSendRequest - 1).chopped(1), PeerAccount(*socket)));
        if (request.startsWith(kCancelSendRequest) && request.endsWith('\n') && FCancelSend)
          socket->write(
              FCancelSend(request.mid(sizeof kCancelSendRequest - 1).trimmed(), PeerAccount(*socket)));
        socket->disconnectFromServer();
      });
    }
  });
}

void TInstanceLock::ListenForShow(std::function<void()> show) {
  FShow = std::move(show);
}

namespace {

// The lock file's process number, 0 when it cannot be read.
qint64 LockPid(const QLockFile& lock) {
  qint64 pid = 0;
  QString host, app;
  return lock.getLockInfo(&pid, &host, &app) ? pid : 0;
}

// Connects `socket` to the first place where the lock's holder listens; what else answered
// there is said in `stranger`.
bool ConnectToHolder(QLocalSocket& socket, const QString& folder, const QLockFile& lock, int timeoutMs,
                     QString* stranger) {
  QStringList skipped;
  for (TPlace& place : Places(folder, skipped)) {
    socket.connectToServer(place.Name);
    if (!socket.waitForConnected(timeoutMs)) {
      socket.abort();
      continue;
    }
    const qint64 holder = LockPid(lock);
    const QString who = Stranger(socket, holder);
    if (who.isEmpty()) return true;
    socket.abort();
    if (stranger)
      *stranger =
          QStringLiteral("%1 answers on %2 and is not the Quillmark that holds %3%4; its answer is ignored")
              .arg(who, QDir::toNativeSeparators(place.Shown), QDir::toNativeSeparators(folder),
                   holder != 0 ? QStringLiteral(" (process %1)").arg(holder) : QString());
  }
  return false;
}

}  // namespace

bool TInstanceLock::HolderAnswers(int timeoutMs, QString* stranger) const {
  QLocalSocket socket;
  const bool answered = ConnectToHolder(socket, FFolder, FLock, timeoutMs, stranger);
  socket.abort();
  return answered;
}

TInstanceLock::TShowAnswer TInstanceLock::AskHolderToShow(int timeoutMs) const {
  QLocalSocket socket;
  const QDeadlineTimer deadline(timeoutMs);
  if (!ConnectToHolder(socket, FFolder, FLock, timeoutMs, nullptr)) return TShowAnswer::saNotReached;
  socket.write(kShowRequest);
  if (!socket.waitForBytesWritten(static_cast<int>(deadline.remainingTime())))
    return TShowAnswer::saNotReached;
  QByteArray answer;
  while (!answer.contains('\n') && socket.state() == QLocalSocket::ConnectedState && !deadline.hasExpired() &&
         socket.waitForReadyRead(static_cast<int>(deadline.remainingTime())))
    answer += socket.readAll();
  answer += socket.readAll();
  socket.disconnectFromServer();
  // A holder that took the request and said nothing (an earlier build) showed its window.
  return answer.startsWith(kNoWindowAnswer) ? TShowAnswer::saNoWindow : TShowAnswer::saShown;
}

TInstanceLock::TStatusReply TInstanceLock::AskHolderStatus(int timeoutMs) const {
  return AskHolder(kStatusRequest, timeoutMs);
}

TInstanceLock::TStatusReply TInstanceLock::AskHolderToAcknowledge(const QByteArray& which,
                                                                  int timeoutMs) const {
  return AskHolder(QByteArray(kAcknowledgeRequest) + ' ' + which + '\n', timeoutMs);
}

TInstanceLock::TStatusReply TInstanceLock::AskHolderToSend(const QByteArray& call, const QByteArray& text,
                                                           int timeoutMs) const {
  return AskHolder(QByteArray(kSendRequest) + call + ' ' + text + '\n', timeoutMs);
}

TInstanceLock::TStatusReply TInstanceLock::AskHolderToCancelSend(const QByteArray& number,
                                                                 int timeoutMs) const {
  return AskHolder(QByteArray(kCancelSendRequest) + number + '\n', timeoutMs);
}

TInstanceLock::TStatusReply TInstanceLock::AskHolder(const QByteArray& request, int timeoutMs) const {
  TStatusReply reply;
  QLocalSocket socket;
  const QDeadlineTimer deadline(timeoutMs);
  if (!ConnectToHolder(socket, FFolder, FLock, timeoutMs, &reply.Stranger)) return reply;
  // Taken by the holder's socket: a stopped or hung holder leaves it there unanswered.
  reply.Kind = TStatusReply::srSilent;
  socket.write(request);
  if (!socket.waitForBytesWritten(static_cast<int>(deadline.remainingTime()))) return reply;
  QByteArray answer;
  // The holder answers and hangs up.
  while (socket.state() == QLocalSocket::ConnectedState && !deadline.hasExpired() &&
         socket.waitForReadyRead(static_cast<int>(deadline.remainingTime())))
    answer += socket.readAll();
  answer += socket.readAll();
  if (answer.isEmpty()) return reply;
  reply.Kind = TStatusReply::srAnswered;
  reply.Answer = answer;
  return reply;
}

qint64 TInstanceLock::HolderProcess() const {
  const qint64 pid = LockPid(FLock);
  if (pid <= 0) return 0;
#ifdef _WIN32
  const HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, static_cast<DWORD>(pid));
  if (process == nullptr) return 0;
  DWORD code = 0;
  const bool runs = GetExitCodeProcess(process, &code) && code == STILL_ACTIVE;
  CloseHandle(process);
  return runs ? pid : 0;
#else
  // The holder keeps an flock on the file while it runs. Taking one to see would stand in a
  // starting copy's way; Linux lists the held ones instead.
  struct stat file {};
  if (::stat(QFile::encodeName(FLock.fileName()).constData(), &file) != 0) return 0;
#ifdef __linux__
  QFile locks(QStringLiteral("/proc/locks"));
  if (locks.open(QIODevice::ReadOnly)) {
    const QByteArray id = QStringLiteral(" %1:%2:%3 ")
                              .arg(major(file.st_dev), 2, 16, QLatin1Char('0'))
                              .arg(minor(file.st_dev), 2, 16, QLatin1Char('0'))
                              .arg(file.st_ino)
                              .toLatin1();
    for (const QByteArray& line : locks.readAll().split('\n'))
      if (line.contains(" FLOCK ") && line.contains(id)) return pid;
    return 0;
  }
#endif
  // Elsewhere: the holder's process still runs (its number taken by another is not told).
  return ::kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM ? pid : 0;
#endif
}

}  // namespace qm
