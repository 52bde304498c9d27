// The printer in sight: a queue of the test's own, paused, rejecting and holding jobs the
// ways an operator makes it, and put back after each.
#include "print/PrintJobs.h"
#include "tests/support/CupsPdfQueue.h"
#include "tests/support/CupsProxy.h"
#include "tests/support/PdfTools.h"

#include <QElapsedTimer>
#include <QTemporaryDir>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace qm {
namespace {

using ::testing::ElementsAre;
using ::testing::StartsWith;

TEST(CupsPrinterStateTest, EachWayAQueueHoldsPagesBackIsToldAndClearsWhenPutBack) {
  const test::TPrivateCupsQueue queue;
  const QString& q = queue.Name();
  TPrintJobs jobs(TPrinterList{{q}, {}});
  jobs.SelectPrinter(0);
  QTemporaryDir dir;
  const QString file = dir.filePath(QStringLiteral("page.pdf"));
  jobs.SetOutputFile(file);
  jobs.PrintText(QStringLiteral("page"), QFont());
  jobs.SetOutputFile({});
  const QStringList hold{QStringLiteral("lp"), QStringLiteral("-d"),   q,
                         QStringLiteral("-H"), QStringLiteral("hold"), file};
  struct Case {
    const char* name;
    std::vector<QStringList> make, putBack;
    bool paused, rejecting;
    int held;
    QStringList problems;
  } const cases[] = {
      {"disabled (cupsdisable)",
       {{"cupsdisable", q}},
       {{"cupsenable", q}},
       true,
       false,
       0,
       {"The printer " + q + " is paused"}},
      {"disabled with a reason",
       {{"cupsdisable", "-r", "Out of paper", q}},
       {{"cupsenable", q}},
       true,
       false,
       0,
       {"The printer " + q + " is paused: Out of paper"}},
      {"not accepting jobs (cupsreject)",
       {{"cupsreject", "-r", "Maintenance until noon", q}},
       {{"cupsaccept", q}},
       false,
       true,
       0,
       {"The printer " + q + " is not accepting jobs: Maintenance until noon"}},
      {"holding two jobs (lp -H hold)",
       {hold, hold},
       {{"cancel", "-a", q}},
       false,
       false,
       2,
       {"The printer " + q + " is holding 2 jobs"}},
      {"all at once",
       {hold, {"cupsreject", q}, {"cupsdisable", "-r", "Jammed", q}},
       {{"cancel", "-a", q}, {"cupsaccept", q}, {"cupsenable", q}},
       true,
       true,
       1,
       {"The printer " + q + " is paused: Jammed", "The printer " + q + " is not accepting jobs",
        "The printer " + q + " is holding 1 job"}},
  };
  EXPECT_THAT(jobs.PrinterState().Problems, ElementsAre());
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    for (const QStringList& command : c.make) test::RunTool(command.front(), command.mid(1));
    const TPrinterState state = jobs.PrinterState();
    for (const QStringList& command : c.putBack) test::RunTool(command.front(), command.mid(1));
    EXPECT_TRUE(state.CanTell && state.Reachable && !state.Missing);
    EXPECT_EQ(state.Paused, c.paused);
    EXPECT_EQ(state.Stopped, c.paused);
    EXPECT_EQ(state.Rejecting, c.rejecting);
    EXPECT_EQ(state.HeldJobs, c.held);
    EXPECT_EQ(state.Problems, c.problems);
    EXPECT_THAT(jobs.PrinterState().Problems, ElementsAre()) << "not put back";
  }
}

TEST(CupsPrinterStateTest, ASpoolerThatCannotTellSaysSoInBoundedTime) {
  const test::TPrivateCupsQueue queue;
  TPrintJobs jobs(TPrinterList{{queue.Name()}, {}});
  jobs.SelectPrinter(0);
  // A file takes the pages: no printer to wait for.
  QTemporaryDir dir;
  jobs.SetOutputFile(dir.filePath(QStringLiteral("page.pdf")));
  EXPECT_FALSE(jobs.PrinterState().CanTell);
  jobs.SetOutputFile({});

  test::RunTool(QStringLiteral("lpadmin"), {QStringLiteral("-x"), queue.Name()});
  const TPrinterState removed = jobs.PrinterState();
  EXPECT_TRUE(removed.Missing);
  EXPECT_THAT(
      removed.Problems,
      ElementsAre(QStringLiteral("The printer %1 no longer exists at the print spooler").arg(queue.Name())));

  // A spooler that takes the connection and never answers.
  test::TLoopbackServer silent([](int fd) { test::ReadToEnd(fd); });
  TPrinterState state;
  QElapsedTimer asked;
  {
    const test::TCupsServerFor silentSpooler("127.0.0.1:" + QByteArray::number(silent.Port()));
    asked.start();
    state = jobs.PrinterState();
  }
  const qint64 took = asked.elapsed();
  ::shutdown(silent.ListenFd(), SHUT_RDWR);
  EXPECT_LT(took, 2500);  // as JobState: a connect and one answer, each bounded
  EXPECT_TRUE(state.CanTell && !state.Reachable);
  ASSERT_EQ(state.Problems.size(), 1);
  EXPECT_THAT(state.Problems.front().toStdString(),
              StartsWith("The printer " + queue.Name().toStdString() + " cannot be asked: no answer from"));
}

}  // namespace
}  // namespace qm
