// The printer in sight: a queue of the test's own on the suite's cupsd, paused, rejecting
// and holding jobs the ways an operator (or a fault) makes it, and put back after each.
#include "print/PrintJobs.h"
#include "tests/support/CupsPdfQueue.h"
#include "tests/support/CupsProxy.h"
#include "tests/support/LoopbackServer.h"
#include "tests/support/PdfTools.h"

#include <QElapsedTimer>
#include <QTemporaryDir>

#include <functional>
#include <memory>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace qm {
namespace {

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::HasSubstr;
using ::testing::StartsWith;

class CupsPrinterStateTest : public ::testing::Test {
 protected:
  void SetUp() override {
    FQueue = std::make_unique<test::TOwnQueue>(QStringLiteral("state"));
    FJobs = std::make_unique<TPrintJobs>(TPrinterList{{FQueue->Name()}, {}});
    FJobs->SelectPrinter(0);
  }
  void TearDown() override {
    FJobs.reset();
    FQueue.reset();
  }
  const QString& Queue() const { return FQueue->Name(); }
  void Tool(const char* program, QStringList arguments) const {
    arguments << Queue();
    test::RunTool(QString::fromLatin1(program), arguments);
  }

  std::unique_ptr<test::TOwnQueue> FQueue;
  std::unique_ptr<TPrintJobs> FJobs;
};

TEST_F(CupsPrinterStateTest, EachWayAQueueHoldsPagesBackIsToldAndClearsWhenPutBack) {
  QTemporaryDir dir;
  const QString page = dir.filePath(QStringLiteral("page.txt"));
  test::RunTool(QStringLiteral("sh"), {QStringLiteral("-c"), QStringLiteral("echo page > '%1'").arg(page)});
  struct Case {
    const char* name;
    std::function<void()> make, putBack;
    bool paused, rejecting;
    int held;
    std::vector<std::string> problems;  // "Q" stands for the queue's name
  } const cases[] = {
      {"disabled (cupsdisable)",
       [&] { Tool("cupsdisable", {}); },
       [&] { Tool("cupsenable", {}); },
       true,
       false,
       0,
       {"The printer Q is paused"}},
      {"disabled with a reason",
       [&] {
         Tool("cupsdisable", {"-r", "Out of paper"});
       },
       [&] { Tool("cupsenable", {}); },
       true,
       false,
       0,
       {"The printer Q is paused: Out of paper"}},
      {"not accepting jobs (cupsreject)",
       [&] {
         Tool("cupsreject", {"-r", "Maintenance until noon"});
       },
       [&] { Tool("cupsaccept", {}); },
       false,
       true,
       0,
       {"The printer Q is not accepting jobs: Maintenance until noon"}},
      {"holding two jobs (lp -H hold)",
       [&] {
         for (int i = 0; i < 2; ++i) test::RunTool(QStringLiteral("lp"), {"-d", Queue(), "-H", "hold", page});
       },
       [&] { Tool("cancel", {"-a"}); },
       false,
       false,
       2,
       {"The printer Q is holding 2 jobs"}},
      {"paused, rejecting and holding at once",
       [&] {
         test::RunTool(QStringLiteral("lp"), {"-d", Queue(), "-H", "hold", page});
         Tool("cupsreject", {});
         Tool("cupsdisable", {"-r", "Jammed"});
       },
       [&] {
         Tool("cancel", {"-a"});
         Tool("cupsaccept", {});
         Tool("cupsenable", {});
       },
       true,
       true,
       1,
       {"The printer Q is paused: Jammed", "The printer Q is not accepting jobs",
        "The printer Q is holding 1 job"}},
  };
  const TPrinterState clear = FJobs->PrinterState();
  EXPECT_TRUE(clear.CanTell && clear.Reachable);
  EXPECT_THAT(clear.Problems, ElementsAre());
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    c.make();
    const TPrinterState state = FJobs->PrinterState();
    c.putBack();
    EXPECT_TRUE(state.CanTell && state.Reachable && !state.Missing);
    EXPECT_EQ(state.Paused, c.paused);
    EXPECT_EQ(state.Stopped, c.paused);
    EXPECT_EQ(state.Rejecting, c.rejecting);
    EXPECT_EQ(state.HeldJobs, c.held);
    std::vector<std::string> problems;
    for (const std::string& p : c.problems)
      problems.push_back(
          QString::fromStdString(p).replace(QStringLiteral("Q "), Queue() + u' ').toStdString());
    EXPECT_THAT(test::StdLines(state.Problems), ElementsAreArray(problems));
    EXPECT_THAT(FJobs->PrinterState().Problems, ElementsAre()) << "not put back";
  }
}

TEST_F(CupsPrinterStateTest, ASpoolerThatCannotTellSaysSoInBoundedTime) {
  // A file takes the pages: no printer to wait for.
  QTemporaryDir dir;
  TPrintJobs toFile(TPrinterList{{Queue()}, Queue()});
  toFile.SetOutputFile(dir.filePath(QStringLiteral("page.pdf")));
  EXPECT_FALSE(toFile.PrinterState().CanTell);
  EXPECT_THAT(toFile.PrinterState().Problems, ElementsAre());

  // The queue removed under the program.
  test::RunTool(QStringLiteral("lpadmin"), {QStringLiteral("-x"), Queue()});
  const TPrinterState removed = FJobs->PrinterState();
  EXPECT_TRUE(removed.Missing);
  EXPECT_THAT(test::StdLines(removed.Problems),
              ElementsAre("The printer " + Queue().toStdString() + " no longer exists at the print spooler"));

  // A spooler that takes the connection and never answers.
  test::TLoopbackServer silent([](int fd) { test::ReadToEnd(fd); });
  TPrinterState silentState;
  qint64 took = 0;
  {
    const test::TCupsServerFor silentSpooler("127.0.0.1:" + QByteArray::number(silent.Port()));
    QElapsedTimer asked;
    asked.start();
    silentState = FJobs->PrinterState();
    took = asked.elapsed();
  }
  ::shutdown(silent.ListenFd(), SHUT_RDWR);
  EXPECT_LT(took, 2500);  // as JobState: a connect and one answer, each bounded
  EXPECT_TRUE(silentState.CanTell);
  EXPECT_FALSE(silentState.Reachable);
  ASSERT_EQ(silentState.Problems.size(), 1);
  EXPECT_THAT(silentState.Problems.front().toStdString(),
              StartsWith("The printer " + Queue().toStdString() +
                         " cannot be asked: no answer from the print service"));
}

}  // namespace
}  // namespace qm
