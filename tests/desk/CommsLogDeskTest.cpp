// The desk's communications log: what it kept in the period, what its caller hands in as its
// own traffic, under the own call; printed as a job of its own.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QFile>

#include "tests/support/DeskRig.h"
#include "tests/support/PdfTools.h"

namespace qm {
namespace {

TEST(CommsLogDesk, KeptAndOwnTrafficOfThePeriodPrintedAsAJobOfItsOwn) {
  const QString missing = test::MissingPopplerTools();
  if (!missing.isEmpty()) GTEST_SKIP() << missing.toStdString();
  test::TDeskRig rig;
  rig.Choices.Selection.Bulletins = true;
  rig.Choices.Selection.StationCall = "W1AW";
  rig.Make();
  rig.SendBulletin(1);
  ASSERT_TRUE(test::SettleDesk(*rig.Desk));
  const TDateTime kept = rig.Utc;
  std::vector<std::pair<TDateTime, TDateTime>> asked;
  rig.Desk->OutgoingRows = [&](TDateTime from, TDateTime to) {
    asked.emplace_back(from, to);
    return std::vector<TLogRow>{{kept + 1.0 / 1440, "W1AW", "N0CALL", "Roger"},
                                {kept + 1, "W1AW", "N0CALL", "after the period"}};
  };
  const TCommsLog log = rig.Desk->CommsLog(kept, kept + 0.5);
  ASSERT_EQ(asked.size(), 1U);
  EXPECT_EQ(asked[0], std::make_pair(kept, kept + 0.5));
  EXPECT_EQ(log.Station, QStringLiteral("W1AW"));
  EXPECT_FALSE(log.Operator.isEmpty());
  ASSERT_EQ(log.Rows.size(), 2U);
  EXPECT_EQ(log.Rows[0].From, "N0CALL");
  EXPECT_EQ(log.Rows[0].To, "BLN1");
  EXPECT_EQ(log.Rows[1].Text, "Roger");
  // A period before anything was kept holds only what is handed in for it.
  EXPECT_EQ(rig.Desk->CommsLog(kept - 1, kept).Received(), 0);

  rig.Desk->PrintCommsLog(log);
  ASSERT_TRUE(rig.Printed());
  const QString text = test::PdfText(rig.PdfFile());
  EXPECT_THAT(text.toStdString(), ::testing::HasSubstr("Messages: 1 in, 1 out"));
  EXPECT_THAT(text.toStdString(), ::testing::HasSubstr("Roger"));
  EXPECT_EQ(
      rig.LogCount(QStringLiteral("Communications log 2026-12-07 06:00 to 2026-12-07 18:00 printed, 2 rows")),
      1);
}

}  // namespace
}  // namespace qm
