// One copy per data folder, with real processes: a second start on a folder in use goes away
// with its reason and touches nothing; a lock left by a killed copy never blocks; --status
// believes only the folder's holder, and tells a holder that does not answer from none.
#include "settings/InstanceLock.h"

#include <grp.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <future>
#include <string>
#include <vector>

#include <QCryptographicHash>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QMap>
#include <QTemporaryDir>

#include "tests/support/PrivateTmpfs.h"
#include "tests/support/ProgramRun.h"
#include "tests/support/QtTestApp.h"

namespace qm {
namespace {

constexpr int kAlreadyRunning = 3;
constexpr int kNoDesk = 3, kSilentDesk = 4;
constexpr uid_t kNobody = 65534;
constexpr char kFakeAnswer[] =
    "0\nSource fake: Connected, all is well\nBoard: http://127.0.0.1:9999/?token=phish\n";

// Another process, of the user `uid`, that answers kFakeAnswer on whichever of `paths` it can
// take; Took(i) says which it took. Only system calls run after the fork.
class TImpostor {
 public:
  TImpostor(const std::vector<std::string>& paths, uid_t uid) : FTook(paths.size(), '0') {
    std::vector<sockaddr_un> addresses(paths.size(), sockaddr_un{AF_UNIX, {}});
    for (std::size_t i = 0; i < paths.size(); ++i)
      std::strncpy(addresses[i].sun_path, paths[i].c_str(), sizeof addresses[i].sun_path - 1);
    int report[2];
    if (::pipe(report) != 0 || (FPid = ::fork()) < 0) return;
    if (FPid == 0) {
      if (uid != ::geteuid() && (::setgroups(0, nullptr) != 0 || ::setgid(uid) != 0 || ::setuid(uid) != 0))
        ::_exit(1);
      std::vector<pollfd> fds;
      for (std::size_t i = 0; i < addresses.size(); ++i) {
        const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
        const bool took = ::bind(fd, reinterpret_cast<sockaddr*>(&addresses[i]), sizeof addresses[i]) == 0 &&
                          ::listen(fd, 8) == 0;
        FTook[i] = took ? '1' : '0';
        fds.push_back({took ? fd : -1, POLLIN, 0});
      }
      if (::write(report[1], FTook.data(), FTook.size()) < 0) ::_exit(1);
      for (;;) {
        ::poll(fds.data(), fds.size(), -1);
        for (const pollfd& p : fds)
          if ((p.revents & POLLIN) != 0)
            if (const int caller = ::accept(p.fd, nullptr, nullptr); caller >= 0) {
              [[maybe_unused]] const ssize_t sent = ::write(caller, kFakeAnswer, sizeof kFakeAnswer - 1);
              ::close(caller);
            }
      }
    }
    ::close(report[1]);
    if (::read(report[0], FTook.data(), FTook.size()) != static_cast<ssize_t>(FTook.size()))
      FTook.assign(paths.size(), '0');
    ::close(report[0]);
  }
  ~TImpostor() {
    if (FPid <= 0) return;
    ::kill(FPid, SIGKILL);
    ::waitpid(FPid, nullptr, 0);
  }
  TImpostor(const TImpostor&) = delete;
  TImpostor& operator=(const TImpostor&) = delete;

  pid_t Pid() const { return FPid; }
  bool Took(std::size_t i) const { return FTook[i] == '1'; }

 private:
  pid_t FPid = -1;
  std::string FTook;
};

QString Digest(const QString& folder) {
  const QByteArray key = QFileInfo(folder).absoluteFilePath().toUtf8();
  return QString::fromLatin1(QCryptographicHash::hash(key, QCryptographicHash::Sha1).toHex().left(16));
}

// The name every earlier version listened on, in the shared temporary folder.
std::string OldSocketName(const QString& folder) {
  return QFile::encodeName(QDir::tempPath() + QStringLiteral("/quillmark-") + Digest(folder) +
                           QStringLiteral("-%1").arg(::geteuid()))
      .toStdString();
}

// Lets the holder's events run while `ask` waits on a thread of its own.
template <typename T>
T WhileHolderRuns(std::function<T()> ask) {
  auto answer = std::async(std::launch::async, std::move(ask));
  while (answer.wait_for(std::chrono::milliseconds(5)) != std::future_status::ready)
    QCoreApplication::processEvents();
  return answer.get();
}

// Every file under `dir` with a digest of its bytes.
QMap<QString, QByteArray> Snapshot(const QString& dir) {
  QMap<QString, QByteArray> files;
  QDirIterator it(dir, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
  while (it.hasNext()) {
    QFile file(it.next());
    if (!file.open(QIODevice::ReadOnly)) continue;
    files.insert(file.fileName(), QCryptographicHash::hash(file.readAll(), QCryptographicHash::Sha256));
  }
  return files;
}

// Messages to N0CALL-10, one a second: the run lasts as long as the capture.
QString WriteCapture(const QTemporaryDir& dir, int messages) {
  QString path = dir.filePath(QStringLiteral("capture.txt"));
  QFile file(path);
  EXPECT_TRUE(file.open(QIODevice::WriteOnly));
  for (int n = 1; n <= messages; ++n)
    file.write(QStringLiteral("*12:00:%1 K1ABC>APRS::N0CALL-10:Hello %2{%2\r\n")
                   .arg(n % 60, 2, 10, QLatin1Char('0'))
                   .arg(n)
                   .toLatin1());
  return path;
}

// Every log file of the folder, one after another.
QString Logs(const QString& dir) {
  QString text;
  for (const QFileInfo& log : QDir(dir).entryInfoList({QStringLiteral("*.log")}, QDir::Files)) {
    QFile file(log.filePath());
    if (file.open(QIODevice::ReadOnly)) text += QString::fromUtf8(file.readAll());
  }
  return text;
}

QStringList RunArgs(const QString& capture, const QString& pace, const QString& config, const QString& pdfs) {
  return {QStringLiteral("--replay"),       capture,
          QStringLiteral("--pace"),         pace,
          QStringLiteral("--callsign"),     QStringLiteral("N0CALL-10"),
          QStringLiteral("--config"),       config,
          QStringLiteral("--print-to-pdf"), pdfs};
}

QStringList StatusRunArgs(const QString& capture, const QString& config, const QString& pdfs) {
  return RunArgs(capture, QStringLiteral("1"), config, pdfs)
         << QStringLiteral("--no-window") << QStringLiteral("--web") << QStringLiteral("off");
}

// Reads the run's standard error into `err` until it says it runs without a window: from then
// on it answers and hears SIGTERM in time.
bool WaitUntilRunning(QProcess& desk, QByteArray& err) {
  const QDeadlineTimer deadline(30000);
  while (!err.contains("running without a window")) {
    if (desk.state() != QProcess::Running || deadline.hasExpired()) return false;
    desk.waitForReadyRead(100);
    err += desk.readAllStandardError();
  }
  return true;
}

class InstanceLockTest : public ::testing::Test {
 protected:
  void SetUp() override {
    test::App();
    ASSERT_TRUE(Dir.isValid());
  }
  QTemporaryDir Dir;
  QString Config = Dir.filePath(QStringLiteral("config"));
  QString Pdfs = Dir.filePath(QStringLiteral("pdf"));
  QString LockFile = Config + QStringLiteral("/Quillmark.lock");
  QString Socket = Config + QStringLiteral("/Quillmark.sock");

  // `--status` on Config, with the desk's environment.
  test::TProgramResult Status(const QProcessEnvironment& env) const {
    return test::Finish(
        *test::StartProgram({QStringLiteral("--status"), QStringLiteral("--config"), Config}, env));
  }
};

TEST_F(InstanceLockTest, SecondStartOnAFolderInUseGoesAwayAndTouchesNothing) {  // slow
  const QString capture = WriteCapture(Dir, 3);
  auto first = test::StartProgram(RunArgs(capture, QStringLiteral("1"), Config, Pdfs),
                                  test::ProgramEnvironment(Dir.path()));
  // The store exists once the first copy has its list; the lock was taken before.
  ASSERT_TRUE(test::WaitForFile(Config + QStringLiteral("/Quillmark-messages.db"), *first))
      << first->readAllStandardError().toStdString();
  // Held still, the first copy writes nothing while the second tries.
  ::kill(static_cast<pid_t>(first->processId()), SIGSTOP);
  const auto before = Snapshot(Config);

  const test::TProgramResult second =
      test::RunProgramIn(Dir.path(), RunArgs(capture, QStringLiteral("0"), Config, Pdfs));
  EXPECT_EQ(second.Code, kAlreadyRunning);
  // Qt may add its own warnings; the reason is a line of its own.
  EXPECT_TRUE(second.Err.split('\n').contains("Quillmark is already running with " + Config.toLocal8Bit()))
      << second.Err.toStdString();
  EXPECT_EQ(Snapshot(Config), before);
  EXPECT_TRUE(QDir(Pdfs).entryList({QStringLiteral("*.pdf")}, QDir::Files).isEmpty())
      << "the second copy printed";

  ::kill(static_cast<pid_t>(first->processId()), SIGCONT);
  const test::TProgramResult firstDone = test::Finish(*first);
  EXPECT_EQ(firstDone.Code, 0) << firstDone.Err.toStdString();
  EXPECT_TRUE(Logs(Config).contains(QStringLiteral("3 unprinted messages are kept for the next start")));
  EXPECT_FALSE(QFileInfo::exists(LockFile)) << "an ended copy leaves no lock";
}

TEST_F(InstanceLockTest, LockOfAKilledCopyDoesNotBlock) {
  const QString capture = WriteCapture(Dir, 60);
  auto first = test::StartProgram(RunArgs(capture, QStringLiteral("1"), Config, Pdfs),
                                  test::ProgramEnvironment(Dir.path()));
  ASSERT_TRUE(test::WaitForFile(LockFile, *first));
  first->kill();  // SIGKILL: no clean-up runs
  first->waitForFinished();
  ASSERT_TRUE(QFileInfo::exists(LockFile)) << "the killed copy's lock should be left behind";

  const test::TProgramResult next =
      test::RunProgramIn(Dir.path(), RunArgs(WriteCapture(Dir, 2), QStringLiteral("0"), Config, Pdfs));
  EXPECT_EQ(next.Code, 0) << next.Err.toStdString();
  EXPECT_FALSE(next.Err.contains("already running")) << next.Err.toStdString();
  EXPECT_TRUE(Logs(Config).contains(QStringLiteral("unprinted messages are kept for the next start")));
}

// A killed copy's lock whose process number now belongs to another copy of the program, on
// another folder: that copy does not answer on this folder's socket, so the lock is stale.
TEST_F(InstanceLockTest, ALockNamingAnotherCopysProcessDoesNotBlock) {
  const QString otherConfig = Dir.filePath(QStringLiteral("other"));
  auto other = test::StartProgram(RunArgs(WriteCapture(Dir, 60), QStringLiteral("1"), otherConfig, Pdfs),
                                  test::ProgramEnvironment(Dir.path()));
  ASSERT_TRUE(test::WaitForFile(otherConfig + QStringLiteral("/Quillmark.lock"), *other));
  auto killed = test::StartProgram(RunArgs(WriteCapture(Dir, 60), QStringLiteral("1"), Config, Pdfs),
                                   test::ProgramEnvironment(Dir.path()));
  ASSERT_TRUE(test::WaitForFile(LockFile, *killed));
  killed->kill();
  killed->waitForFinished();
  // As if the system had given the dead copy's number to the other one.
  QFile lock(LockFile);
  ASSERT_TRUE(lock.open(QIODevice::ReadWrite));
  QList<QByteArray> lines = lock.readAll().split('\n');
  lines[0] = QByteArray::number(other->processId());
  lock.resize(0);
  lock.write(lines.join('\n'));
  lock.close();

  const test::TProgramResult next =
      test::RunProgramIn(Dir.path(), RunArgs(WriteCapture(Dir, 2), QStringLiteral("0"), Config, Pdfs));
  EXPECT_EQ(next.Code, 0) << next.Err.toStdString();
  EXPECT_EQ(other->state(), QProcess::Running);
  EXPECT_TRUE(QFileInfo::exists(otherConfig + QStringLiteral("/Quillmark.lock")));
  other->kill();
  other->waitForFinished();
}

// In one process the lock is the same object's; a second lock on the folder is refused and
// the first's release lets it in.
TEST_F(InstanceLockTest, LockIsReleasedWithItsHolder) {
  ASSERT_TRUE(QDir().mkpath(Config));
  auto holder = std::make_unique<TInstanceLock>(Config);
  ASSERT_TRUE(holder->Take());
  TInstanceLock other(Config);
  EXPECT_FALSE(other.Take());
  EXPECT_TRUE(other.HeldElsewhere());
  EXPECT_EQ(other.AlreadyRunningText(), QStringLiteral("Quillmark is already running with ") + Config);
  holder.reset();
  EXPECT_TRUE(other.Take());
}

TEST(InstanceLockStatus, TheHolderAnswersALaterAskerAndNoHolderNone) {
  test::App();
  QTemporaryDir dir;
  // A data folder too deep for a socket address still takes its socket.
  const QString deep =
      dir.filePath(QString(60, QLatin1Char('d')) + QLatin1Char('/') + QString(60, QLatin1Char('e')));
  for (const QString& folder : {dir.path(), deep}) {
    SCOPED_TRACE(folder.toStdString());
    ASSERT_TRUE(QDir().mkpath(folder));
    ASSERT_EQ(::chmod(QFile::encodeName(folder).constData(), 0700), 0);
    auto holder = std::make_unique<TInstanceLock>(folder);
    ASSERT_TRUE(holder->Take());
    EXPECT_EQ(holder->ListenError(), QString());
    const TInstanceLock asker(folder);
    EXPECT_EQ(asker.AskHolderStatus(200).Kind, TInstanceLock::TStatusReply::srSilent) << "no answer set yet";

    holder->ListenForShow({});
    holder->AnswerStatus([] { return QByteArray("0\nSource: up\n"); });
    const auto got =
        WhileHolderRuns<TInstanceLock::TStatusReply>([&asker] { return asker.AskHolderStatus(5000); });
    EXPECT_EQ(got.Kind, TInstanceLock::TStatusReply::srAnswered);
    EXPECT_EQ(got.Answer, QByteArray("0\nSource: up\n"));
    holder.reset();
    EXPECT_EQ(asker.AskHolderStatus(200).Kind, TInstanceLock::TStatusReply::srNone);
  }
}

// Another process on the holder's own socket (its file taken away, and another listening
// there): its answer never counts, and the asker says who it was.
TEST(InstanceLockStatus, OnlyTheLocksHolderIsBelieved) {
  test::App();
  QTemporaryDir dir;
  ASSERT_EQ(::chmod(QFile::encodeName(dir.path()).constData(), 0700), 0);
  TInstanceLock holder(dir.path());
  ASSERT_TRUE(holder.Take());
  holder.AnswerStatus([] { return QByteArray("0\nSource: up\n"); });
  const QString socket = dir.filePath(QStringLiteral("Quillmark.sock"));
  ASSERT_TRUE(QFile::remove(socket));
  const TImpostor impostor({QFile::encodeName(socket).toStdString()}, ::geteuid());
  ASSERT_TRUE(impostor.Took(0));
  const TInstanceLock asker(dir.path());
  const auto got =
      WhileHolderRuns<TInstanceLock::TStatusReply>([&asker] { return asker.AskHolderStatus(2000); });
  EXPECT_EQ(got.Kind, TInstanceLock::TStatusReply::srNone);
  EXPECT_TRUE(got.Stranger.startsWith(
      QStringLiteral("process %1 of user %2 answers on %3").arg(impostor.Pid()).arg(::geteuid()).arg(socket)))
      << got.Stranger.toStdString();
}

// The start after a killed copy whose process number another user's process now has, a
// process that also holds the old socket name and whatever other name it could reach.
TEST_F(InstanceLockTest, AnotherUsersSocketNeitherAnswersForTheDeskNorKeepsItFromItsOwn) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to run a process as another user";
  const QString runtime = Dir.filePath(QStringLiteral("run"));
  ASSERT_TRUE(QDir().mkpath(runtime));
  ASSERT_EQ(::chmod(QFile::encodeName(runtime).constData(), 0700), 0);
  QProcessEnvironment extra;
  extra.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime);
  const QProcessEnvironment env = test::ProgramEnvironment(Dir.path(), extra);
  const QString capture = WriteCapture(Dir, 60);
  auto killed = test::StartProgram(StatusRunArgs(capture, Config, Pdfs), env);
  ASSERT_TRUE(test::WaitForFile(Socket, *killed));
  killed->kill();
  killed->waitForFinished();
  const QString runtimeName =
      runtime + QStringLiteral("/quillmark-") + Digest(Config) + QStringLiteral(".sock");
  const TImpostor impostor({OldSocketName(Config), QFile::encodeName(Socket).toStdString(),
                            QFile::encodeName(runtimeName).toStdString()},
                           kNobody);
  ASSERT_TRUE(impostor.Took(0)) << "the other user could not take the old name";
  EXPECT_FALSE(impostor.Took(1) || impostor.Took(2)) << "the other user made a socket in a private folder";
  // A live process of the lock's name: only the socket can tell this lock stale.
  QFile lock(LockFile);
  ASSERT_TRUE(lock.open(QIODevice::ReadWrite));
  QList<QByteArray> lines = lock.readAll().split('\n');
  lines[0] = QByteArray::number(impostor.Pid());
  lines[1] = QCoreApplication::applicationFilePath().toUtf8();
  lock.resize(0);
  lock.write(lines.join('\n'));
  lock.close();

  auto desk = test::StartProgram(StatusRunArgs(capture, Config, Pdfs), env);
  QByteArray err;
  ASSERT_TRUE(WaitUntilRunning(*desk, err)) << err.toStdString();
  const test::TProgramResult status = Status(env);
  EXPECT_LE(status.Code, 1) << status.Err.toStdString();
  EXPECT_TRUE(status.Out.contains("Board: off") && !status.Out.contains("phish")) << status.Out.toStdString();
  desk->terminate();
  err += test::Finish(*desk).Err;
  EXPECT_FALSE(err.contains("already running") || err.contains("no socket")) << err.toStdString();
}

// A desk that holds the folder and does not answer is not "none runs".
TEST_F(InstanceLockTest, ADeskThatHoldsTheFolderAndDoesNotAnswerIsToldFromNone) {
  QProcessEnvironment extra;
  extra.insert(QStringLiteral("XDG_RUNTIME_DIR"), QString());
  const QProcessEnvironment env = test::ProgramEnvironment(Dir.path(), extra);
  for (const bool stop : {true, false}) {
    SCOPED_TRACE(stop ? "stopped" : "its socket cannot be made");
    QDir(Config).removeRecursively();
    ASSERT_TRUE(QDir().mkpath(Config));
    ASSERT_EQ(::chmod(QFile::encodeName(Config).constData(), 0700), 0);
    // A folder where the socket would go.
    if (!stop) {
      ASSERT_TRUE(QDir().mkpath(Socket));
    }
    auto desk = test::StartProgram(StatusRunArgs(WriteCapture(Dir, 60), Config, Pdfs), env);
    QByteArray err;
    ASSERT_TRUE(WaitUntilRunning(*desk, err)) << err.toStdString();
    if (stop) ::kill(static_cast<pid_t>(desk->processId()), SIGSTOP);
    const test::TProgramResult status = Status(env);
    EXPECT_EQ(status.Code, kSilentDesk) << status.Err.toStdString();
    EXPECT_TRUE(status.Err.contains(stop ? "did not answer within 5 s" : "answers on no socket"));
    if (stop) {
      ::kill(static_cast<pid_t>(desk->processId()), SIGCONT);
      EXPECT_LE(Status(env).Code, 1) << "going on, it answers again";
    }
    desk->terminate();
    err += test::Finish(*desk).Err;
    if (!stop) {
      EXPECT_TRUE(err.contains("quillmark: no socket for --status")) << err.toStdString();
      EXPECT_TRUE(Logs(Config).contains(QStringLiteral("no socket for --status")));
    }
    EXPECT_EQ(Status(env).Code, kNoDesk);
  }
}

// Messages that cannot be stored are not "all is well": the desk on a disk that fills up.
TEST_F(InstanceLockTest, AFailingStoreIsNotAllWell) {
  ASSERT_TRUE(QDir().mkpath(Config));
  const test::TPrivateTmpfs disk(Config.toStdString(), "8m");
  if (!disk.Skip().empty()) GTEST_SKIP() << disk.Skip();
  const QProcessEnvironment env = test::ProgramEnvironment(Dir.path());
  auto desk = test::StartProgram(StatusRunArgs(WriteCapture(Dir, 60), Config, Pdfs), env);
  QByteArray err;
  ASSERT_TRUE(WaitUntilRunning(*desk, err)) << err.toStdString();
  ASSERT_EQ(Status(env).Code, 0);
  ASSERT_TRUE(disk.FillUp(disk.File("filler")));
  // The next message's commit fails; asked until the desk says so.
  test::TProgramResult status;
  const QDeadlineTimer deadline(30000);
  do status = Status(env);
  while (!status.Out.contains("(failing)") && !deadline.hasExpired());
  EXPECT_TRUE(status.Out.contains("(failing)")) << status.Out.toStdString();
  EXPECT_EQ(status.Code, 1);
  desk->terminate();
  test::Finish(*desk);
}

}  // namespace
}  // namespace qm
