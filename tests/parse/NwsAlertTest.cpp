#include "parse/NwsAlert.h"

#include <gtest/gtest.h>

#include <string>

namespace qm {
namespace {

const TDateTime kNow = EncodeDateTime({2026, 12, 10, 12, 0});

std::string Codes(const TNwsAlert& alert) {
  std::string codes;
  for (const TNwsArea& area : alert.Areas) codes += (codes.empty() ? "" : " ") + NwsAreaCode(area);
  return codes;
}

struct TFormCase {
  const char* what;
  const char* addressee;
  std::string text;
  TNwsAlertCategory category;
  const char* expires;  // "" for none
  const char* event;
  const char* areas;
  const char* remark;
  const char* sequence;
};

TEST(ReadNwsAlert, TheFormsTheServersSend) {
  const TFormCase cases[] = {
      {"plain list", "NWS-WARN", "092345z,SVR_TSTORM,OK_C109,OK_C111", acWarning, "2026-12-09 23:45",
       "SVR_TSTORM", "OK_C109 OK_C111", "", ""},
      {"compressed, NWS_", "NWS_ADVIS", "221000z,WINTER_STORM,ARZ003>005-012", acAdvisory, "2026-12-22 10:00",
       "WINTER_STORM", "AR_Z003 AR_Z004 AR_Z005 AR_Z012", "", ""},
      {"shared prefixes, no leading zeros", "NWS_ADVIS", "022300z,FLOOD,IAC57-95-ILC1-MOC45 ", acAdvisory,
       "2026-12-02 23:00", "FLOOD", "IA_C057 IA_C095 IL_C001 MO_C045", "", ""},
      {"range with underscore", "NWS-WATCH", "101900z,TORNDO,OK_C109>111", acWatch, "2026-12-10 19:00",
       "TORNDO", "OK_C109 OK_C110 OK_C111", "", ""},
      {"remark after the areas", "NWS-WARN", "191800z,WINTER_STORM,WY_Z014, GREEN MOUNTAINS", acWarning,
       "2026-12-19 18:00", "WINTER_STORM", "WY_Z014", "GREEN MOUNTAINS", ""},
      {"remark after a blank", "NWS_WARN", "101900z,FLOOD,ARZ3>4 RIVER STAGES", acWarning, "2026-12-10 19:00",
       "FLOOD", "AR_Z003 AR_Z004", "RIVER STAGES", ""},
      {"sequence", "NWS-WARN", "092345z,SVR_TSTORM,OK_C109{S895A", acWarning, "2026-12-09 23:45",
       "SVR_TSTORM", "OK_C109", "", "S895A"},
      {"trailing comma and blank", "NWS-ADVIS", "181830z,FLOOD,FL_C013,FL_C037, ", acAdvisory,
       "2026-12-18 18:30", "FLOOD", "FL_C013 FL_C037", "", ""},
      {"cancel", "NWS-CANCL", "101500z,CANCL,TX_C001", acCancel, "2026-12-10 15:00", "CANCL", "TX_C001", "",
       ""},
      {"other word", "NWS-SOLAR", "Flx134 A004", acOther, "", "", "", "", ""},
      {"lower case", "nws-warn", "092345Z,torndo,ok_c109", acWarning, "2026-12-09 23:45", "TORNDO", "OK_C109",
       "", ""},
      {"no expiry field", "NWS-ADVIS", "WIND,CA_Z007,CA_Z065", acAdvisory, "", "WIND", "CA_Z007 CA_Z065", "",
       ""},
      {"impossible day", "NWS-ADVIS", "322400z,FLOOD,KS_C035", acAdvisory, "", "FLOOD", "KS_C035", "", ""},
      {"expiry without z", "NWS-ADVIS", "092345,FLOOD,KS_C035", acAdvisory, "", "FLOOD", "KS_C035", "", ""},
      {"cut in the event", "NWS-WARN", "092345z,SVR_TS", acWarning, "2026-12-09 23:45", "SVR_TS", "", "", ""},
      {"cut in the expiry", "NWS-WARN", "0923", acWarning, "", "", "", "", ""},
      {"empty", "NWS-WARN", "", acWarning, "", "", "", "", ""},
      {"hostile event", "NWS-WARN", "092345z,<b>BOOM</b>,OK_C109", acWarning, "2026-12-09 23:45", "", "", "",
       ""},
      {"backward range", "NWS-WARN", "092345z,FLOOD,OK_C111>109", acWarning, "2026-12-09 23:45", "FLOOD", "",
       "OK_C111>109", ""},
      {"four digits", "NWS-WARN", "092345z,FLOOD,OK_C109,OK_C1234", acWarning, "2026-12-09 23:45", "FLOOD",
       "OK_C109", "OK_C1234", ""},
      {"no state before a number", "NWS-WARN", "092345z,FLOOD,109-111", acWarning, "2026-12-09 23:45",
       "FLOOD", "", "109-111", ""},
      {"expiry in the month before", "NWS-WARN", "302200z,FLOOD,OK_C109", acWarning, "2026-11-30 22:00",
       "FLOOD", "OK_C109", "", ""},
  };
  for (const TFormCase& c : cases) {
    SCOPED_TRACE(c.what);
    const std::optional<TNwsAlert> alert = ReadNwsAlert(c.addressee, c.text, kNow);
    ASSERT_TRUE(alert.has_value());
    EXPECT_EQ(alert->Category, c.category);
    EXPECT_EQ(alert->ExpiresUtc ? FormatDateTime("yyyy-mm-dd hh:nn", *alert->ExpiresUtc) : "", c.expires);
    EXPECT_EQ(alert->Event, c.event);
    EXPECT_EQ(Codes(*alert), c.areas);
    EXPECT_FALSE(alert->AreasCut);
    EXPECT_EQ(alert->Remark, c.remark);
    EXPECT_EQ(alert->Sequence, c.sequence);
  }
}

TEST(ReadNwsAlert, OnlyNwsAddressees) {
  for (const char* addressee : {"BLN1", "NWS", "NWSWARN", "KB1ABC", ""}) {
    SCOPED_TRACE(addressee);
    EXPECT_FALSE(ReadNwsAlert(addressee, "092345z,FLOOD,OK_C109", kNow).has_value());
  }
}

TEST(ReadNwsAlert, TheExpiryCrossesIntoTheNextYear) {
  const std::optional<TNwsAlert> alert =
      ReadNwsAlert("NWS-WARN", "010100z,FLOOD,OK_C109", EncodeDateTime({2026, 12, 31, 23, 0}));
  ASSERT_TRUE(alert && alert->ExpiresUtc);
  EXPECT_EQ(FormatDateTime("yyyy-mm-dd hh:nn", *alert->ExpiresUtc), "2027-01-01 01:00");
}

TEST(ReadNwsAlert, AbsurdListsAreBounded) {
  const std::optional<TNwsAlert> ranged = ReadNwsAlert("NWS_WARN", "092345z,FLOOD,OKC1>999-TXC1>999", kNow);
  ASSERT_TRUE(ranged);
  EXPECT_EQ(ranged->Areas.size(), kMaxNwsAreas);
  EXPECT_TRUE(ranged->AreasCut);

  std::string longText = "092345z,FLOOD";
  while (longText.size() < 100'000) longText += ",OK_C109";
  const std::optional<TNwsAlert> listed = ReadNwsAlert("NWS-WARN", longText, kNow);
  ASSERT_TRUE(listed);
  EXPECT_EQ(listed->Areas.size(), (kMaxNwsTextLength - 13) / 8);  // whole codes only
  EXPECT_TRUE(listed->AreasCut);
}

TEST(ReadNwsAlert, APacketGivesItsMessageIdAndReceiptTime) {
  const auto packet = ParseAprsPacket("OUNSVR>APRS::NWS_WARN :092345z,SVR_TSTORM,OKC109{S895A", 0, kNow);
  const std::optional<TNwsAlert> alert = ReadNwsAlert(*packet);
  ASSERT_TRUE(alert && alert->ExpiresUtc);
  EXPECT_EQ(alert->Sequence, "S895A");
  EXPECT_EQ(FormatDateTime("yyyy-mm-dd hh:nn", *alert->ExpiresUtc), "2026-12-09 23:45");
  EXPECT_EQ(Codes(*alert), "OK_C109");
}

}  // namespace
}  // namespace qm
