// An NWS alert as the History and the board show it: its words with what became of it, read
// from the store against the clock, so an alert past its expiry is expired after a restart too.
#include <gtest/gtest.h>

#include "run/HistoryModel.h"
#include "tests/support/DeskRig.h"

namespace qm {
namespace {

const std::string kDash = "\xE2\x80\x94";

TEST(NwsShown, TheWordsSayWhatBecameOfTheAlert) {
  TStoredMessage m;
  m.NwsEvent = "FLOOD";
  m.NwsWords = "Flood Warning " + kDash + " Tulsa County, OK " + kDash + " until 19:30 UTC";
  m.NwsExpiresUtc = EncodeDateTime({2026, 12, 8, 19, 30});
  const TDateTime before = m.NwsExpiresUtc - 1.0 / 24, after = m.NwsExpiresUtc + 1.0 / 1440;
  const std::string head = "Flood Warning " + kDash + " Tulsa County, OK " + kDash + " ";
  const struct {
    const char* what;
    TNwsState state;
    TDateTime now;
    std::string shown;
    bool ended;
  } cases[] = {
      {"live", nsLive, before, head + "until 19:30 UTC", false},
      {"past its expiry", nsLive, after, head + "expired 19:30 UTC", true},
      {"cancelled", nsCancelled, before, head + "cancelled", true},
      {"superseded", nsSuperseded, after, head + "superseded", true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    m.NwsState = c.state;
    EXPECT_EQ(HistoryCell(m, THistoryModel::hcWords, c.now).toStdString(), c.shown);
    EXPECT_EQ(NwsEnded(m, c.now), c.ended);
  }
  // Without an expiry it never expires; a message that is no alert has no words.
  m.NwsExpiresUtc = 0;
  m.NwsState = nsLive;
  m.NwsWords = "Flood Warning";
  EXPECT_EQ(NwsShownWords(m, after).toStdString(), "Flood Warning");
  EXPECT_FALSE(NwsEnded(m, after + 365));
  EXPECT_TRUE(NwsShownWords(TStoredMessage{}, after).isEmpty());
}

TEST(NwsShown, AnAlertPastItsExpiryIsExpiredAfterARestartAndItsRowGreyed) {
  test::TDeskRig rig;
  rig.Choices.Selection.NwsWarnings = rig.Choices.Selection.Bulletins = true;
  rig.Choices.Selection.States = {{"OK", true}};
  rig.Make();
  rig.Send(test::HostMessage("OUNSVR", "NWS-WARN", "072300z,TORNDO,OK_C109{A1AAA"));
  rig.Send(test::HostMessage("W5ABC", "BLN1", "Net tonight"));
  ASSERT_EQ(rig.Entries(), 2);
  rig.Desk->Close();
  // The next start, a day later.
  rig.Utc += 1;
  rig.Make();
  THistoryModel model;
  model.NowUtc = [&] { return rig.Desk->Now(tfUTC); };
  model.SetMessages(rig.Desk->HistoryReader(), {1, 2});
  EXPECT_EQ(model.index(0, THistoryModel::hcWords).data().toString().toStdString(),
            "Tornado Warning " + kDash + " Oklahoma County, OK " + kDash + " expired 23:00 UTC");
  EXPECT_TRUE(model.index(0, THistoryModel::hcText).data(Qt::ForegroundRole).isValid());
  EXPECT_TRUE(model.index(1, THistoryModel::hcWords).data().toString().isEmpty());
  EXPECT_FALSE(model.index(1, THistoryModel::hcText).data(Qt::ForegroundRole).isValid());
}

}  // namespace
}  // namespace qm
