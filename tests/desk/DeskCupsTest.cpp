// The whole flow with no window, through a real CUPS queue: packets in, listed, a page to the
// spooler, confirmed, the list empty; the queue refusing pages: kept and said once per outage,
// printed once when it takes them again.
#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QMap>
#include <QRegularExpression>
#include <QThread>

#include "tests/support/CupsPdfQueue.h"
#include "tests/support/DeskParts.h"
#include "tests/support/DeskRig.h"
#include "tests/support/PdfTools.h"

namespace qm {
namespace {

// How often each "Desk item N end" stands in the queue's completed jobs since `before`.
QMap<int, int> PrintedItems(const test::TPrivateCupsQueue& queue, const QSet<int>& before) {
  QMap<int, int> printed;
  for (int id : test::CompletedJobIds(queue.Name()) - before) {
    const QString pdf = test::JobPdf(id);
    if (pdf.isEmpty()) continue;
    const QRegularExpression item(QStringLiteral("Desk item (\\d+) end"));
    for (auto m = item.globalMatch(test::PdfText(pdf)); m.hasNext();) ++printed[m.next().captured(1).toInt()];
  }
  return printed;
}

bool WaitFor(const std::function<bool()>& done, int ms) {
  QElapsedTimer timer;
  timer.start();
  while (!done()) {
    if (timer.elapsed() > ms) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    QThread::msleep(20);
  }
  return true;
}

TEST(DeskCups, PagesReachTheSpoolerOnceThroughTwoRefusalsEachShownOnce) {
  const QString missing = test::MissingPopplerTools();
  if (!missing.isEmpty()) GTEST_SKIP() << missing.toStdString();
  test::TPrivateCupsQueue queue;
  test::TDeskRig rig;
  rig.UsePrinter = true;
  rig.Setup.SpoolPoll = std::chrono::milliseconds(200);
  rig.Choices.Selection.Bulletins = true;
  rig.Choices.PageSetting = "4";
  rig.Make();
  TPrintJobs& jobs = test::TDeskParts::PrintJobs(*rig.Desk);
  jobs.SelectPrinter(static_cast<int>(jobs.Printers().indexOf(queue.Name())));
  ASSERT_EQ(jobs.CurrentPrinterName(), queue.Name());
  const QSet<int> before = test::CompletedJobIds(queue.Name());
  int sent = 0;
  const auto send = [&](int count) {
    for (int i = 0; i < count; ++i, ++rig.Tick) {
      ++sent;
      rig.Send(test::HostMessage("N0CALL-5", "BLN" + std::to_string(sent % 10),
                                 "Desk item " + std::to_string(sent) + " end"));
    }
  };
  send(5);  // the fifth makes a page of five
  ASSERT_TRUE(WaitFor([&] { return rig.Entries() == 0 && rig.Desk->PendingJobs().empty(); }, 60000));
  EXPECT_EQ(rig.Count, QStringLiteral("0 of 4 messages collected"));

  queue.Accept(false);
  send(10);  // two pages refused
  EXPECT_EQ(rig.Entries(), 10);
  EXPECT_EQ(rig.Failures.size(), 1) << rig.Failures.join(QStringLiteral("; ")).toStdString();
  queue.Accept(true);
  send(1);
  ASSERT_TRUE(WaitFor([&] { return rig.Entries() == 0 && rig.Desk->PendingJobs().empty(); }, 60000));

  // A second outage after pages went through again is a new one: its box is shown too.
  queue.Accept(false);
  send(5);
  EXPECT_EQ(rig.Entries(), 5);
  EXPECT_EQ(rig.Failures.size(), 2) << rig.Failures.join(QStringLiteral("; ")).toStdString();
  queue.Accept(true);
  send(1);
  ASSERT_TRUE(WaitFor([&] { return rig.Entries() == 0 && rig.Desk->PendingJobs().empty(); }, 60000));

  QMap<int, int> printed;
  WaitFor([&] { return (printed = PrintedItems(queue, before)).size() == sent; }, 30000);
  for (int n = 1; n <= sent; ++n) EXPECT_EQ(printed.value(n), 1) << "message " << n;
  EXPECT_EQ(rig.LogCount(QStringLiteral("Desk item")), sent);  // each logged once
}

}  // namespace
}  // namespace qm

int main(int argc, char** argv) {
  qm::test::GuiApp();
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
