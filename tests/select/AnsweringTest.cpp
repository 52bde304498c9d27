#include "select/Answering.h"

#include <gtest/gtest.h>

#include <string>

namespace qm {
namespace {

constexpr const char* kOwn = "Q1ABC-7";

TEST(AckNumberFor, NumberFormsTimesAddresseeForms) {
  struct TNumber {
    const char* Suffix;  // what follows the text
    const char* Acked;   // the number echoed, or nullptr
  };
  const TNumber numbers[] = {
      {"", nullptr},           {"{1", "1"},          {"{12", "12"},   {"{AB3", "AB3"},
      {"{a1B2c", "a1B2c"},     {"{123456", nullptr}, {"{", nullptr},  {"{1 2", nullptr},
      {"{1-2", nullptr},       {"{MM}AA", "MM}AA"},  {"{MM}", "MM}"}, {"{}AA", nullptr},
      {"{MM}AAAAAA", nullptr}, {"{12 ", "12"},
  };
  struct TAddressee {
    const char* Field;
    bool Own;
  };
  const TAddressee addressees[] = {
      {"Q1ABC-7", true}, {"Q1ABC", false}, {"Q1ABC-8", false},  {"q1abc-7", false},   {"K2XYZ", false},
      {"BLN1", false},   {"BLNWX", false}, {"NWS-WARN", false}, {"NWS_ADVIS", false},
  };
  for (const TAddressee& a : addressees) {
    for (const TNumber& n : numbers) {
      const std::string line = std::string("K2XYZ-9>APRS,WIDE1-1::") + a.Field +
                               std::string(9 - std::string(a.Field).size(), ' ') + ":hello" + n.Suffix;
      SCOPED_TRACE(line);
      const auto packet = ParseAprsPacket(line);
      const auto number = AckNumberFor(*packet, kOwn);
      if (a.Own && n.Acked) {
        ASSERT_TRUE(number.has_value());
        EXPECT_EQ(*number, n.Acked);
      } else {
        EXPECT_FALSE(number.has_value());
      }
    }
  }
}

TEST(AckNumberFor, NeitherAPlaceholderOwnCallNorOneFromItself) {
  const struct {
    const char* Line;
    const char* Own;
    bool Acked;
  } cases[] = {
      {"K2XYZ>APRS::N0CALL   :hi{1", "N0CALL", false},    {"K2XYZ>APRS::NOCALL-5 :hi{1", "NOCALL-5", false},
      {"K2XYZ>APRS::EOC-WX   :hi{1", "EOC-WX", false},     // a tactical name cannot transmit
      {"Q1ABC-7>APRS::Q1ABC-7  :hi{1", "Q1ABC-7", false},  // its own message, heard back
      {"K2XYZ>APRS::Q1ABC-7  :hi{1", "", false},           // no own call yet
      {"K2XYZ>APRS::Q1ABC-7  :ack1", "Q1ABC-7", false},    // acknowledgements are never answered
      {"K2XYZ>APRS::Q1ABC-7  :hi{1", "Q1ABC-7", true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Line);
    EXPECT_EQ(AckNumberFor(*ParseAprsPacket(c.Line), c.Own).has_value(), c.Acked);
  }
}

// The reason is what the log says for a hand-set own call no acknowledgement can go out as.
TEST(IsTransmitCallsign, LicensedFormsOnlyAndWhyNot) {
  const struct {
    const char* Call;
    const char* Why;  // "" when the call may transmit
  } cases[] = {
      {"Q1ABC", ""},
      {"Q1ABC-7", ""},
      {"q1abc-15", ""},
      {"AE5PL-10", ""},
      {"K2X", ""},
      {"KD9QMK-0", "SSID 0 is written without it, as KD9QMK"},
      {"KD9QMK-16", "an AX.25 frame carries an SSID from 0 to 15 only"},
      {"Q1ABC-07", "SSID"},
      {"Q1ABC-", "SSID"},
      {"Q1ABC-999999999999", "SSID"},
      {"N0CALL-7", "N0CALL is a placeholder"},
      {"NOCALL", "NOCALL is a placeholder"},
      {"Q1ABCDE", "3 to 6 letters and digits"},
      {"ABCDEF", "3 to 6"},
      {"123456", "3 to 6"},
      {"EOC-WX", "3 to 6"},
      {"", "3 to 6"},
      {"K2", "3 to 6"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Call);
    const std::string why = TransmitCallsignProblem(c.Call);
    EXPECT_EQ(IsTransmitCallsign(c.Call), why.empty());
    if (*c.Why == 0)
      EXPECT_EQ(why, "");
    else
      EXPECT_NE(why.find(c.Why), std::string::npos) << why;
  }
}

TEST(TAckLimiter, OnePerPairWithinTheGapAndABoundAMinute) {
  TAckLimiter limiter;
  const std::uint32_t t0 = 0xFFFFFFFFu - 5000;  // the tick wraps during the test
  EXPECT_EQ(limiter.Ask("K2XYZ", "1", t0), TAckLimiter::avSend);
  EXPECT_EQ(limiter.Ask("k2xyz", "1", t0 + 3000), TAckLimiter::avAnsweredJustNow);  // a digipeated copy
  EXPECT_EQ(limiter.Ask("K2XYZ", "2", t0 + 3000), TAckLimiter::avSend);
  EXPECT_EQ(limiter.Ask("K2XYZ", "1", t0 + TAckLimiter::PairGapMs), TAckLimiter::avSend);  // a resend
  // 3 sent so far; the rest of the minute's bound goes to other senders.
  for (std::size_t i = 3; i < TAckLimiter::PerMinute; ++i)
    EXPECT_EQ(limiter.Ask("K" + std::to_string(i), "1", t0 + 20000), TAckLimiter::avSend);
  EXPECT_EQ(limiter.Ask("W1NEW", "1", t0 + 20000), TAckLimiter::avOverTheMinute);
  // A minute after the first, one place is free again.
  EXPECT_EQ(limiter.Ask("W1NEW", "1", t0 + 60000), TAckLimiter::avSend);
  EXPECT_EQ(limiter.Ask("W1NEW2", "1", t0 + 60000), TAckLimiter::avOverTheMinute);
}

}  // namespace
}  // namespace qm
