#include "select/Selection.h"

#include <gtest/gtest.h>

#include "tests/support/PacketBuilder.h"

namespace qm {
namespace {

using test::MakePacket;

struct TPersonalCase {
  const char* what;
  std::string stationCall;
  bool thisStation;
  bool stationList;
  std::vector<std::string> entries;
  std::string from;
  std::string to;
  bool wanted;
};

TEST(IsWantedMessage, PersonalMessagesByOwnStationAndStationList) {
  const TPersonalCase cases[] = {
      {"from own call", "NOCALL-9", true, false, {}, "NOCALL-9", "KB1ABC", true},
      {"to own call", "NOCALL-9", true, false, {}, "KB1ABC", "NOCALL-9", true},
      {"own base call, other SSID", "NOCALL-9", true, false, {}, "NOCALL", "KB1ABC", false},
      {"addressee in lower case", "NOCALL-9", true, false, {}, "KB1ABC", "nocall-9", false},
      {"own-station box unchecked", "NOCALL-9", false, false, {}, "NOCALL-9", "NOCALL-9", false},
      {"own call unknown, empty source", "", true, false, {}, "", "KB1ABC", true},
      {"own call unknown, empty addressee", "", true, false, {}, "KB1ABC", "", true},
      {"own call unknown, ordinary message", "", true, false, {}, "KB1ABC", "KB2XYZ", false},
      {"wildcard: base call", "", false, true, {"NOCALL*"}, "NOCALL", "KB1ABC", true},
      {"wildcard: SSID", "", false, true, {"NOCALL*"}, "NOCALL-7", "KB1ABC", true},
      {"wildcard: longer call", "", false, true, {"NOCALL*"}, "NOCALLX", "KB1ABC", true},
      {"wildcard: addressee", "", false, true, {"NOCALL*"}, "KB1ABC", "NOCALL-7", true},
      {"wildcard: shorter than prefix", "", false, true, {"NOCALL*"}, "NOCAL", "KB1ABC", false},
      {"wildcard entry typed in lower case", "", false, true, {"nocall*"}, "NOCALL-3", "KB1ABC", true},
      {"star inside: prefix before it", "", false, true, {"NO*ALL"}, "NOBODY", "KB1ABC", true},
      {"star inside: other prefix", "", false, true, {"NO*ALL"}, "N0CALL", "KB1ABC", false},
      {"SSID wildcard vs base call", "", false, true, {"NOCALL-1*"}, "NOCALL", "KB1ABC", false},
      {"SSID wildcard vs two-digit SSID", "", false, true, {"NOCALL-1*"}, "NOCALL-12", "KB1ABC", true},
      {"leading star matches all", "", false, true, {"*XYZ"}, "KB1ABC", "W1AW", true},
      {"exact entry, exact call", "", false, true, {"NOCALL"}, "NOCALL", "KB1ABC", true},
      {"exact entry, other SSID", "", false, true, {"NOCALL"}, "NOCALL-7", "KB1ABC", false},
      {"exact entry vs lower-case addressee", "", false, true, {"nocall"}, "KB1ABC", "nocall", false},
      {"exact entry typed in lower case", "", false, true, {"nocall"}, "KB1ABC", "NOCALL", true},
      {"later entry matches", "", false, true, {"W1AW", "K1*", "NOCALL"}, "KB1ABC", "NOCALL", true},
      {"list box unchecked", "", false, false, {"NOCALL*"}, "NOCALL", "KB1ABC", false},
      {"neither own nor listed", "NOCALL-9", true, true, {"W1AW"}, "KB1ABC", "KB2XYZ", false},
  };
  for (const TPersonalCase& c : cases) {
    SCOPED_TRACE(c.what);
    TSelectionChoices choices;
    choices.StationCall = c.stationCall;
    choices.ThisStation = c.thisStation;
    choices.UseStationList = c.stationList;
    choices.StationList = c.entries;
    EXPECT_EQ(IsWantedMessage(MakePacket(mkPersonal, c.from, c.to), choices), c.wanted);
  }
}

TEST(IsWantedMessage, BulletinsAndAnnouncementsIgnoreTheStationList) {
  TSelectionChoices choices;
  choices.StationCall = "NOCALL";
  choices.UseStationList = true;
  choices.StationList = {"NOCALL*", "*"};
  const TAprsMsgPacket bulletin = MakePacket(mkBulletin, "NOCALL", "BLN1");
  const TAprsMsgPacket announcement = MakePacket(mkAnnouncement, "NOCALL", "BLNA");
  EXPECT_FALSE(IsWantedMessage(bulletin, choices));
  EXPECT_FALSE(IsWantedMessage(announcement, choices));
  choices.Bulletins = true;
  EXPECT_TRUE(IsWantedMessage(bulletin, choices));
  EXPECT_FALSE(IsWantedMessage(announcement, choices));
  choices.Announcements = true;
  choices.Bulletins = false;
  EXPECT_FALSE(IsWantedMessage(bulletin, choices));
  EXPECT_TRUE(IsWantedMessage(announcement, choices));

  choices.Bulletins = choices.Announcements = true;
  EXPECT_FALSE(IsWantedMessage(MakePacket(mkNone, "NOCALL", "NOCALL"), choices));
}

struct TNwsCase {
  const char* what;
  std::string addressee;
  std::string state;
  bool watches, warnings, advisories;
  bool wanted;
};

TEST(IsWantedMessage, NwsAlertsByCategoryAndState) {
  // OK and TX are listed; OK is checked, TX is not.
  const TNwsCase cases[] = {
      {"warning, checked state", "NWS-WARN", "OK", false, true, false, true},
      {"state in lower case", "NWS-WARN", "ok", false, true, false, true},
      {"state in mixed case", "NWS-WARN", "oK", false, true, false, true},
      {"unchecked state", "NWS-WARN", "TX", true, true, true, false},
      {"no state", "NWS-WARN", "", true, true, true, false},
      {"state not in the list", "NWS-WARN", "ZZ", true, true, true, false},
      {"one-letter state", "NWS-WARN", "O", true, true, true, false},
      {"category unchecked", "NWS-WARN", "OK", true, false, true, false},
      {"watch", "NWS-WATCH", "OK", true, false, false, true},
      {"watch unchecked", "NWS-WATCH", "OK", false, true, true, false},
      {"advisory", "NWS-ADVIS", "OK", false, false, true, true},
      {"addressee with trailing blank", "NWS-WARN ", "OK", false, true, false, true},
      {"unknown category", "NWS-TORNADO", "OK", true, true, true, false},
      {"category in lower case", "nws-warn", "OK", true, true, true, false},
  };
  for (const TNwsCase& c : cases) {
    SCOPED_TRACE(c.what);
    TSelectionChoices choices;
    choices.NwsWatches = c.watches;
    choices.NwsWarnings = c.warnings;
    choices.NwsAdvisories = c.advisories;
    for (auto& [code, checked] : choices.States) checked = code == "OK";
    const TAprsMsgPacket alert =
        MakePacket(mkNwsAlert, "NWSBOT", c.addressee, "WXAlert,xx,OK", "123", c.state);
    EXPECT_EQ(IsWantedMessage(alert, choices), c.wanted);
  }
}

TEST(IsWantedMessage, AreaListNarrowsACheckedState) {
  struct TCase {
    const char* what;
    std::vector<std::string> areas;
    const char* text;
    const char* state;
    bool wanted;
  };
  const TCase cases[] = {
      {"no area list: the whole state", {}, "081930z,SVR_TSTORM,OK_C111", "OK", true},
      {"the county named", {"OK_C109"}, "081930z,SVR_TSTORM,OK_C109", "OK", true},
      {"another county of the state", {"OK_C109"}, "081930z,SVR_TSTORM,OK_C111", "OK", false},
      {"the county among others", {"OK_C109"}, "081930z,SVR_TSTORM,OK_C111,OK_C109", "OK", true},
      {"every county by a star", {"OK_C*"}, "081930z,SVR_TSTORM,OK_C111", "OK", true},
      {"a zone is no county", {"OK_C*"}, "081930z,WINTER_STORM,OK_Z020", "OK", false},
      {"an area of an unchecked state", {"TX_Z123"}, "081930z,SVR_TSTORM,TX_Z123", "TX", false},
      {"areas that cannot be read", {"OK_C109"}, "WXAlert,xx,OK", "OK", true},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.what);
    TSelectionChoices choices;
    choices.NwsWarnings = true;
    choices.NwsAreas = c.areas;
    for (auto& [code, checked] : choices.States) checked = code == "OK";
    const TAprsMsgPacket alert = MakePacket(mkNwsAlert, "NWSBOT", "NWS-WARN", c.text, "123", c.state);
    EXPECT_EQ(IsWantedMessage(alert, choices), c.wanted);
  }
}

TEST(IsWantedMessage, DefaultStateListHoldsTheFiftyTwoCodesUnchecked) {
  const TSelectionChoices choices;
  ASSERT_EQ(choices.States.size(), 52u);
  EXPECT_EQ(choices.States.front().first, "AK");
  EXPECT_EQ(choices.States.back().first, "WY");
  for (const auto& [code, checked] : choices.States) {
    SCOPED_TRACE(code);
    EXPECT_FALSE(checked);
    EXPECT_EQ(code.size(), 2u);
  }
  EXPECT_TRUE(std::is_sorted(choices.States.begin(), choices.States.end()));
  EXPECT_TRUE(choices.ThisStation);
}

}  // namespace
}  // namespace qm
