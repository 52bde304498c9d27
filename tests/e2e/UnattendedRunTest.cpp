// The program with --no-window, as the systemd unit runs it: it replays a capture, prints its
// pages through the real CUPS queue (Quillmark-PDF), is ended by a real SIGTERM with messages
// unprinted, and prints those after the restart, each exactly once.
#include <gtest/gtest.h>

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QThread>
#include <csignal>

#include "store/MessageStore.h"
#include "tests/support/CupsPdfQueue.h"
#include "tests/support/LogFiles.h"
#include "tests/support/PdfTools.h"
#include "tests/support/ProgramRun.h"
#include "tests/support/QtTestApp.h"

namespace qm {
namespace {

using test::LogText;

QString Bulletin(int n) {
  return QStringLiteral("Unattended item %1").arg(n);
}

// Bulletins `from`..`to`, then `filler` packets nobody wants.
void WriteCapture(const QString& path, int from, int to, int filler) {
  QFile f(path);
  ASSERT_TRUE(f.open(QIODevice::WriteOnly));
  for (int n = from; n <= to; ++n)
    f.write(
        QStringLiteral("*12:00:00 N0CALL-5>APRS::BLN%1     :%2\n").arg(n % 10).arg(Bulletin(n)).toLatin1());
  for (int i = 0; i < filler; ++i) f.write("*12:00:01 W1ABC>APRS:!4903.50N/07201.75W-\n");
}

bool WaitForLog(const QString& dir, const QString& text, const QProcess& p, int timeoutMs = 60000) {
  const QDeadlineTimer deadline(timeoutMs);
  while (!LogText(dir).contains(text)) {
    if (p.state() == QProcess::NotRunning || deadline.hasExpired()) return false;
    QThread::msleep(50);  // polls a file another process writes
  }
  return true;
}

TEST(UnattendedRun, PrintsThroughCupsKeepsTheRestOverSigtermAndPrintsItAfterTheRestart) {
  const QString missing = test::MissingPopplerTools();
  if (!missing.isEmpty()) GTEST_SKIP() << missing.toStdString();
  test::App();
  QTemporaryDir home;
  const QString config = home.filePath(QStringLiteral("config"));
  ASSERT_TRUE(QDir().mkpath(config));
  {
    QFile ini(config + QStringLiteral("/Quillmark.ini"));
    ASSERT_TRUE(ini.open(QIODevice::WriteOnly));
    ini.write("[Settings]\ncbBull.Checked=True\nedMsgCount.Text=3\n");
  }
  // A queue of this test's own, as the child's default printer: other runs print meanwhile.
  const test::TPrivateCupsQueue queue;
  QProcessEnvironment extra;
  extra.insert(QStringLiteral("LPDEST"), queue.Name());
  QProcessEnvironment env = test::ProgramEnvironment(home.path(), extra);
  env.remove(QStringLiteral("QT_QPA_PLATFORM"));  // --no-window needs no display of its own
  env.remove(QStringLiteral("DISPLAY"));
  env.remove(QStringLiteral("WAYLAND_DISPLAY"));
  const QSet<int> before = test::CompletedJobIds(queue.Name());

  // Six bulletins: one page of four, two left listed when SIGTERM comes during the filler.
  const QString first = home.filePath(QStringLiteral("first.txt"));
  WriteCapture(first, 1, 6, 2000);
  auto run =
      test::StartProgram({QStringLiteral("--no-window"), QStringLiteral("--config"), config,
                          QStringLiteral("--replay"), first, QStringLiteral("--pace"), QStringLiteral("20")},
                         env);
  ASSERT_TRUE(WaitForLog(config, Bulletin(6), *run)) << run->readAllStandardError().toStdString();
  const int page1 = test::WaitForNewCompletedJob(before, 60000, queue.Name());
  ASSERT_GT(page1, 0) << "the first page never reached CUPS";
  // Ended once the program knows the page printed, so exactly two are left.
  const TMessageStore store((config + QStringLiteral("/Quillmark-messages.db")).toStdString());
  const QDeadlineTimer confirmed(20000);
  while (store.Listed().size() != 2u && !confirmed.hasExpired()) QThread::msleep(50);
  ASSERT_EQ(store.Listed().size(), 2u);
  ASSERT_EQ(::kill(static_cast<pid_t>(run->processId()), SIGTERM), 0);
  const test::TProgramResult ended = test::Finish(*run, 20000);
  EXPECT_EQ(ended.Code, 0) << ended.Err.toStdString();
  EXPECT_TRUE(LogText(config).contains(QStringLiteral("2 unprinted messages are kept for the next start")))
      << LogText(config).toStdString();
  EXPECT_TRUE(ended.Err.contains("running without a window")) << ended.Err.toStdString();
  // What the journal gets: the page with its job and queue, what is kept.
  EXPECT_TRUE(ended.Err.contains(
      QStringLiteral("Page printed: 4 messages, job %1 on %2").arg(page1).arg(queue.Name()).toUtf8()))
      << ended.Err.toStdString();
  // The end line also goes to standard error: the log may be on the disk that failed.
  EXPECT_TRUE(ended.Err.contains("2 unprinted messages are kept for the next start"))
      << ended.Err.toStdString();

  // The restart lists the two again; two more fill the page.
  const QString second = home.filePath(QStringLiteral("second.txt"));
  WriteCapture(second, 7, 8, 0);
  const test::TProgramResult again = test::Finish(
      *test::StartProgram({QStringLiteral("--no-window"), QStringLiteral("--config"), config,
                           QStringLiteral("--replay"), second, QStringLiteral("--pace"), QStringLiteral("0")},
                          env));
  EXPECT_EQ(again.Code, 0) << again.Err.toStdString();
  EXPECT_TRUE(again.Err.contains("2 unprinted messages were restored from the last run"))
      << again.Err.toStdString();
  const int page2 = test::WaitForNewCompletedJob(before + QSet<int>{page1}, 60000, queue.Name());
  ASSERT_GT(page2, 0) << "the page after the restart never reached CUPS";
  ASSERT_TRUE(test::WaitForJobPdf(page1, 30000, queue.Name()) &&
              test::WaitForJobPdf(page2, 30000, queue.Name()));
  const QString printed = test::PdfText(test::JobPdf(page1)) + test::PdfText(test::JobPdf(page2));
  for (int n = 1; n <= 8; ++n) EXPECT_EQ(printed.count(Bulletin(n)), 1) << "bulletin " << n;
  EXPECT_EQ(test::CompletedJobIds(queue.Name()) - before, (QSet<int>{page1, page2}));
}

}  // namespace
}  // namespace qm
