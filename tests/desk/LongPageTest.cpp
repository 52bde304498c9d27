// A page longer than a layout step: still one job with every line, its entries leave the list
// and the store only once it is printed, and what comes meanwhile stays listed.
#include <gtest/gtest.h>

#include "base/ProgramText.h"
#include "tests/support/DeskParts.h"
#include "tests/support/DeskRig.h"
#include "tests/support/PdfTools.h"

namespace qm {
namespace {

TEST(LongPage, IsOneWholeJobAndWhatComesMeanwhileStaysListed) {
  const QString missing = test::MissingPopplerTools();
  if (!missing.isEmpty()) GTEST_SKIP() << missing.toStdString();
  constexpr int kEntries = TPrintJobs::kStepLines;  // three lines each: several steps
  test::TDeskRig rig;
  rig.Choices.Selection.Bulletins = true;
  rig.Choices.PrintingDisabled = true;
  TMessageDesk& desk = rig.Make();
  for (int n = 1; n <= kEntries; ++n)
    desk.Take(ParseAprsPacket(
        IntakePacketLine(test::HostMessage("N0CALL", "BLN1", "Bulletin " + std::to_string(n))), rig.Tick,
        rig.Utc));
  ASSERT_TRUE(rig.Settle());
  ASSERT_EQ(rig.Entries(), kEntries);

  desk.PrintNow();
  ASSERT_TRUE(test::TDeskParts::PrintJobs(desk).Busy()) << "laid out at once";
  rig.SendBulletin(kEntries + 1);
  QElapsedTimer timer;
  timer.start();
  while (!desk.PendingJobs().empty() || test::TDeskParts::PrintJobs(desk).Busy() || rig.Entries() > 1) {
    ASSERT_LT(timer.elapsed(), 60000) << "the page never came out";
    QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 20);
  }
  EXPECT_EQ(desk.LastPrinted().Lines, 3 * kEntries + 1);
  const QStringList printed = test::PdfLines(rig.PdfFile());
  ASSERT_EQ(printed.size(), 3 * kEntries);
  EXPECT_EQ(printed.value(2).trimmed(), QStringLiteral("BLN1: Bulletin 1"));
  EXPECT_EQ(printed.back().trimmed(), QStringLiteral("BLN1: Bulletin %1").arg(kEntries));
  EXPECT_EQ(rig.Lines().value(2), QStringLiteral("  BLN1: Bulletin %1").arg(kEntries + 1));
  TDurableStore& store = *test::TDeskParts::Store(desk);
  ASSERT_EQ(store.Listed().size(), 1u);
  EXPECT_EQ(store.Listed().front().MessageText, "Bulletin " + std::to_string(kEntries + 1));
}

// The store's copy of a page is the text the page shows, in the program's bytes, however a
// line is made up.
TEST(LongPage, TheStoresTextIsThePagesText) {
  const std::vector<std::string> lines = {"  N0CALL>APRS via WIDE1-1",
                                          "",
                                          "tab\tand \x7f",
                                          "cr\rlf\nvt\x0b ff\x0c",
                                          "utf-8 \xc3\xa9 and \xe2\x80\xa8 separator",
                                          "latin-1 \xe9 and nel \x85",
                                          "\xc3"};
  for (const std::string& line : lines) {
    SCOPED_TRACE(line);
    EXPECT_EQ(ListDocumentText({line}), ProgramText(ListJobDocument({ListLineText(line)})));
  }
  QStringList shown;
  for (const std::string& line : lines) shown << ListLineText(line);
  EXPECT_EQ(ListDocumentText(lines), ProgramText(ListJobDocument(shown)));
}

}  // namespace
}  // namespace qm
