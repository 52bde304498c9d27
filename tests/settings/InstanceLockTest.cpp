// One copy per data folder, with real processes: a second start on a folder in use goes away
// with its reason and touches nothing; a lock left by a killed copy never blocks.
#include "settings/InstanceLock.h"

#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <future>

#include <QCryptographicHash>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QMap>
#include <QTemporaryDir>

#include "tests/support/ProgramRun.h"
#include "tests/support/QtTestApp.h"

namespace qm {
namespace {

constexpr int kAlreadyRunning = 3;

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
};

TEST_F(InstanceLockTest, SecondStartOnAFolderInUseGoesAwayAndTouchesNothing) {
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
  TInstanceLock holder(dir.path());
  ASSERT_TRUE(holder.Take());
  const TInstanceLock asker(dir.path());
  EXPECT_FALSE(asker.AskHolderStatus(500).has_value()) << "not listening yet";

  holder.ListenForShow({});
  holder.AnswerStatus([] { return QByteArray("0\nSource: up\n"); });
  // The asker waits on its own thread while the holder's events run here.
  auto answer = std::async(std::launch::async, [&asker] { return asker.AskHolderStatus(5000); });
  while (answer.wait_for(std::chrono::milliseconds(5)) != std::future_status::ready)
    QCoreApplication::processEvents();
  const std::optional<QByteArray> got = answer.get();
  ASSERT_TRUE(got.has_value());
  EXPECT_EQ(*got, QByteArray("0\nSource: up\n"));
}

}  // namespace
}  // namespace qm
