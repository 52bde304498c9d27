#include "select/Alarms.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

namespace qm {
namespace {

const TDateTime kNow = EncodeDateTime({2026, 12, 10, 14, 0});

TEST(AlarmKinds, WordsBothWays) {
  TAlarmKinds kinds = ParseAlarmKinds(" Warning, own ,advisory");
  EXPECT_TRUE(kinds.Has(akOwn) && kinds.Has(akWarning) && kinds.Has(akAdvisory));
  EXPECT_FALSE(kinds.Has(akListed) || kinds.Has(akWatch));
  EXPECT_EQ(AlarmKindsText(kinds), "own,warning,advisory");
  EXPECT_EQ(ParseAlarmKinds(AlarmKindsText(kinds)), kinds);
  EXPECT_TRUE(TAlarmKinds().Empty());  // off unless chosen
  EXPECT_TRUE(ParseAlarmKinds("").Empty());
  EXPECT_TRUE(ParseAlarmKinds("none").Empty());
  for (const char* bad : {"own,warnings", "own,,watch", "bulletins"}) {
    SCOPED_TRACE(bad);
    EXPECT_THROW(ParseAlarmKinds(bad), EAlarmKinds);
  }
  try {
    ParseAlarmKinds(std::string("wa\0rn\x7f", 6));
    FAIL();
  } catch (const EAlarmKinds& e) {
    EXPECT_TRUE(std::string(e.what()).starts_with("\"wa?rn?\" is no alarm kind")) << e.what();
  }
  try {
    ParseAlarmKinds("own, warnings");
    FAIL();
  } catch (const EAlarmKinds& e) {
    EXPECT_STREQ(e.what(),
                 "\"warnings\" is no alarm kind; the kinds are own, listed, bulletin, announcement, watch, "
                 "warning, advisory");
  }
}

TEST(WantsAlarm, TheKindOfAListedMessage) {
  struct TCase {
    const char* packet;
    const char* kinds;
    std::optional<TAlarmKind> alarm;
  };
  const TCase cases[] = {
      {"K1ABC>APRS::N0CALL-5 :Call me{12", "own", akOwn},
      {"K1ABC>APRS::N0CALL-5 :Call me{12", "listed,bulletin", std::nullopt},
      {"N0CALL-5>APRS::K1ABC    :my own{3", "own,listed", std::nullopt},  // sent by the operator
      {"K1ABC>APRS::W2XYZ    :hello{4", "listed", akListed},
      {"K1ABC>APRS::W2XYZ    :hello{4", "own", std::nullopt},
      {"K1ABC>APRS::BLN1     :Net tonight", "bulletin", akBulletin},
      {"K1ABC>APRS::BLNA     :Hamfest", "announcement", akAnnouncement},
      {"K1ABC>APRS::BLNA     :Hamfest", "bulletin", std::nullopt},
      {"NWS>APRS::NWS-WARN :101500z,SVR_TSTORM,OK_C109", "warning", akWarning},
      {"NWS>APRS::NWS-WATCH:101500z,TORNADO,OK_C109", "warning", std::nullopt},
      {"NWS>APRS::NWS-WATCH:101500z,TORNADO,OK_C109", "watch", akWatch},
      {"NWS>APRS::NWS_ADVIS:101500z,WIND,OK_Z001", "advisory", akAdvisory},
      {"NWS>APRS::NWS-CANCL:101500z,SVR_TSTORM,OK_C109", "watch,warning,advisory", std::nullopt},
      // Past its expiry it never alarms; one without a readable expiry does.
      {"NWS>APRS::NWS-WARN :101330z,SVR_TSTORM,OK_C109", "warning", std::nullopt},
      {"NWS>APRS::NWS-WARN :SVR_TSTORM,OK_C109", "warning", akWarning},
      {"K1ABC>APRS::N0CALL-5 :Call me{12", "", std::nullopt},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(std::string(c.packet) + " / " + c.kinds);
    const auto packet = ParseAprsPacket(c.packet, 0, kNow);
    ASSERT_TRUE(packet->Selected);
    EXPECT_EQ(WantsAlarm(ParseAlarmKinds(c.kinds), *packet, "N0CALL-5", kNow), c.alarm);
  }
}

}  // namespace
}  // namespace qm
