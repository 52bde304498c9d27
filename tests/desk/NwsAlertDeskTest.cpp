// The desk reads an NWS alert in words as it keeps it, ends the earlier alert a cancel or an
// update names, and prints the words and full texts as the operator chose.
#include <gtest/gtest.h>

#include <QFile>

#include "store/MessageStore.h"
#include "tests/support/DeskRig.h"
#include "tests/support/PdfTools.h"

namespace qm {
namespace {

const std::string kWords =
    "Severe Thunderstorm Warning \xE2\x80\x94 Oklahoma County, OK \xE2\x80\x94 until 23:00 UTC";

struct TAlertRig : test::TDeskRig {
  TAlertRig() {
    Choices.Selection.NwsWarnings = true;
    Choices.Selection.States = {{"OK", true}};
    Choices.PageSetting = "100";
  }
  // Sends an alert of the Norman office; the store's record of it, or none when not listed.
  std::optional<TStoredMessage> Alert(const std::string& to, const std::string& text) {
    const std::size_t before = Desk->Listed().size();
    Tick += 30000;  // past the 20 s rule
    Send(test::HostMessage("OUNSVR", to, text));
    if (Desk->Listed().size() == before) return std::nullopt;
    TDurableStore& store = *test::TDeskParts::Store(*Desk);
    store.WaitForCommits();
    return store.Message(Desk->Listed().back().StoreId);
  }
  TNwsState StateOf(const TStoredMessage& m) {
    TDurableStore& store = *test::TDeskParts::Store(*Desk);
    store.WaitForCommits();
    return store.Message(m.Id).NwsState;
  }
};

TEST(NwsAlertDesk, AnAlertIsKeptInWordsAndAnUpdateOrAnUnlistedCancelEndsTheEarlierOne) {
  TAlertRig rig;
  rig.Make();
  const std::optional<TStoredMessage> first = rig.Alert("NWS-WARN", "072300z,SVR_TSTORM,OK_C109{A1AAA");
  ASSERT_TRUE(first);
  EXPECT_EQ(first->NwsWords, kWords);
  EXPECT_EQ(rig.Desk->Listed().back().NwsWords, kWords);
  EXPECT_EQ(first->NwsEvent, "SVR_TSTORM");
  EXPECT_EQ(first->NwsAreas, "Oklahoma County, OK");
  EXPECT_EQ(FormatDateTime("yyyy-mm-dd hh:nn", first->NwsExpiresUtc), "2026-12-07 23:00");

  const std::optional<TStoredMessage> update = rig.Alert("NWS-WARN", "072330z,SVR_TSTORM,OK_C109{A2AAA");
  ASSERT_TRUE(update);
  EXPECT_EQ(rig.StateOf(*first), nsSuperseded);
  // Cancels are not listed; the alert they cancel is marked all the same.
  EXPECT_FALSE(rig.Alert("NWS-CANCL", "072330z,SVR_TSTORM,OK_C109{A3AAA"));
  EXPECT_EQ(rig.StateOf(*update), nsCancelled);
  EXPECT_EQ(rig.Entries(), 2);  // what was listed stays listed

  // An alert that does not read is judged and kept as before, without words.
  const std::optional<TStoredMessage> unread = rig.Alert("NWS-WARN", "072300z,<b>BOOM</b>,OK_C109");
  ASSERT_TRUE(unread);
  EXPECT_EQ(unread->NwsEvent, "");
  EXPECT_EQ(unread->NwsWords, "");
}

TEST(NwsAlertDesk, TheWordsLineAndTheFixedPitchFullTextAreTheOperatorsChoice) {
  const QString missing = test::MissingPopplerTools();
  if (!missing.isEmpty()) GTEST_SKIP() << missing.toStdString();
  TAlertRig rig;
  rig.Make();
  const auto printed = [&](const std::function<void()>& print) {
    print();
    EXPECT_TRUE(test::SettleDesk(*rig.Desk));
    EXPECT_TRUE(rig.Printed());
    const QString pdf = rig.PdfFile();
    const QStringList lines = test::PdfLines(pdf), fonts = test::PdfFonts(pdf);
    QFile::remove(pdf);
    return std::pair(lines, fonts);
  };
  ASSERT_TRUE(rig.Alert("NWS-WARN", "072300z,SVR_TSTORM,OK_C109{A1AAA"));
  EXPECT_EQ(printed([&] { rig.Desk->PrintNow(); }).first.size(), 3);
  rig.Choices.NwsWordsLine = true;
  rig.Choose();
  ASSERT_TRUE(rig.Alert("NWS-WARN", "072300z,SVR_TSTORM,OK_C109{A2AAA"));
  const QStringList page = printed([&] { rig.Desk->PrintNow(); }).first;
  ASSERT_EQ(page.size(), 4);
  EXPECT_EQ(page[3], test::AsPdfTextLine(QString::fromStdString(kWords)));

  const auto textFonts = [&] { return printed([&] { rig.Desk->Print("LAT...LON 3550 9750"); }).second; };
  EXPECT_FALSE(textFonts().contains(QStringLiteral("LiberationMono")));
  rig.Choices.FixedPitchFullText = true;
  rig.Choose();
  EXPECT_EQ(textFonts(), QStringList{QStringLiteral("LiberationMono")});
}

}  // namespace
}  // namespace qm
