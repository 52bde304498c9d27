// Reprints name a job as the history and the log show it, and an operator's mistake (a job or
// message that was never stored) is refused as such: never a failure of the store, never
// "last failure", nothing printed.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QFile>

#include "store/MessageStore.h"
#include "tests/support/DeskRig.h"
#include "tests/support/PdfTools.h"

namespace qm {
namespace {

TEST(Reprint, AJobByItsNumberAndATypoIsTheOperatorsMistake) {
  const QString missing = test::MissingPopplerTools();
  if (!missing.isEmpty()) GTEST_SKIP() << missing.toStdString();
  test::TDeskRig rig;
  rig.Choices.Selection.Bulletins = true;
  rig.Make();
  rig.SendBulletin(1);
  rig.SendBulletin(2);
  rig.Desk->PrintNow();
  ASSERT_TRUE(test::SettleDesk(*rig.Desk));
  ASSERT_TRUE(rig.Printed());
  const QStringList page = test::PdfLines(rig.PdfFile());
  ASSERT_TRUE(QFile::remove(rig.PdfFile()));
  const TStoredMessage first = rig.Desk->HistoryReader()->Message(1);
  ASSERT_EQ(first.PrintState, psPrinted);
  // A page to a file has no spooler number: its number is the store's. The reprint says what
  // it is on top; with the mark off it is the page as it was.
  const QString mark = QStringLiteral("REPRINT of job %1").arg(JobNumber(first));
  rig.Desk->ReprintJob(JobNumber(first));
  ASSERT_TRUE(rig.Printed());
  EXPECT_EQ(test::PdfLines(rig.PdfFile()), QStringList{mark} + page);
  ASSERT_TRUE(QFile::remove(rig.PdfFile()));
  rig.Desk->ReprintMessages({first.Id, first.Id + 1});
  EXPECT_EQ(test::PdfLines(rig.PdfFile()), QStringList{mark} + page);
  ASSERT_TRUE(QFile::remove(rig.PdfFile()));
  rig.Choices.ReprintMark = false;
  rig.Choose();
  rig.Desk->ReprintJob(JobNumber(first));
  EXPECT_EQ(test::PdfLines(rig.PdfFile()), page);
  ASSERT_TRUE(QFile::remove(rig.PdfFile()));

  const struct {
    const char* what;
    std::function<void()> reprint;
    const char* said;
  } cases[] = {
      {"a job never printed", [&] { rig.Desk->ReprintJob(2324); }, "No job 2324 was printed"},
      {"a message never stored",
       [&] {
         rig.Desk->ReprintMessages({first.Id, 999});
       },
       "No message 999 is stored"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    try {
      c.reprint();
      ADD_FAILURE() << "taken";
    } catch (const EMessageStoreError& e) {
      EXPECT_EQ(std::string(e.what()), c.said);
      EXPECT_EQ(e.Kind(), EMessageStoreError::ekRefused);
    }
    EXPECT_FALSE(rig.Printed());
  }
  EXPECT_TRUE(rig.Failures.isEmpty()) << rig.Failures.join(u'|').toStdString();
  EXPECT_FALSE(rig.Desk->StoreFailing());
  EXPECT_EQ(rig.LogCount(QStringLiteral("The message store failed")), 0);
}

// With the header on, every page, the desk's own and a reprint, names the station and its
// number; the mark stands above the header.
TEST(Reprint, HeaderAndFooterFrameThePagesAndTheMarkTopsThem) {
  const QString missing = test::MissingPopplerTools();
  if (!missing.isEmpty()) GTEST_SKIP() << missing.toStdString();
  test::TDeskRig rig;
  rig.Choices.Selection.Bulletins = true;
  rig.Choices.Selection.StationCall = "W1AW";
  rig.Choices.HeaderFooter = true;
  rig.Make();
  rig.SendBulletin(1);
  rig.Desk->PrintNow();
  ASSERT_TRUE(test::SettleDesk(*rig.Desk));
  const QStringList page = test::PdfLines(rig.PdfFile());
  ASSERT_EQ(page.size(), 5);
  // The desk's clock: 2026-12-07 06:00 UTC. The list's font is not of fixed pitch.
  EXPECT_EQ(page.first(), QStringLiteral("W1AW printed 2026-12-07 06:00 UTC"));
  EXPECT_THAT(page[3].toStdString(), ::testing::HasSubstr("Bulletin 1"));
  EXPECT_EQ(page.last(), QStringLiteral("W1AW page 1"));
  ASSERT_TRUE(QFile::remove(rig.PdfFile()));
  const TStoredMessage first = rig.Desk->HistoryReader()->Message(1);
  rig.Desk->ReprintJob(JobNumber(first));
  const QStringList reprint = test::PdfLines(rig.PdfFile());
  ASSERT_EQ(reprint.size(), 6);
  EXPECT_EQ(reprint.first(), QStringLiteral("REPRINT of job %1").arg(JobNumber(first)));
  EXPECT_EQ(reprint.mid(2), page.mid(1));
}

}  // namespace
}  // namespace qm
