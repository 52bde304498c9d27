#include "parse/HostIntake.h"

#include <gtest/gtest.h>

#include "parse/QuillmarkParse.h"

namespace qm {
namespace {

TEST(CleanPacketText, Table) {
  struct Case {
    std::string host;
    std::string clean;
  } cases[] = {
      {"", ""},
      {"*", ""},  // one character: nothing left
      {"*Q1ABC>APRS::Q0DEMO-9 :hi", "Q1ABC>APRS::Q0DEMO-9 :hi"},
      {"#12:34:56 Q1ABC>APRS::Q0DEMO-9 :hi", "Q1ABC>APRS::Q0DEMO-9 :hi"},
      {"*1:Fm Q1ABC To APRS", "1:Fm Q1ABC To APRS"},  // a digit, but ":" is second: kept
      {"*12-34:56 Q1ABC>APRS:>x", "12-34:56 Q1ABC>APRS:>x"},
      {"*12:34:56", ""},  // a time word and no blank: nothing left
      {"*1a:", ""},
      {"*1:", "1:"},  // only two characters
      {"*12:34:56    Q1ABC>APRS::Q0DEMO-9 :hi  \r\n", "Q1ABC>APRS::Q0DEMO-9 :hi"},
      {"*12:34:56 \t\x01Q1ABC>APRS:x\x02\t", "Q1ABC>APRS:x"},  // the rest is trimmed
      {"*12:00:00 a b c", "a b c"},                            // only the first word goes
      {"*12:00:00\r\n Q1ABC>X", "Q1ABC>X"},
      {"\r12:00:00 Q1ABC>X", "Q1ABC>X"},  // the marker may be any character
      {"112:00:00 Q1ABC>X", "Q1ABC>X"},
      {"*Q1A\r\nBC>AP\rRS::Q0\nDEMO-9 :hi\r\n", "Q1ABC>APRS::Q0DEMO-9 :hi"},  // no blank left behind
      {"*\tQ1ABC>APRS::x\x01 ", "\tQ1ABC>APRS::x\x01 "},                      // other control characters stay
      {"*Q1ABC>APRS::x\x01\r\n", "Q1ABC>APRS::x\x01"},
      {"*\xFF\xFE", "\xFF\xFE"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.host);
    EXPECT_EQ(CleanPacketText(c.host), c.clean);
  }
}

TEST(UnwrapThirdParty, Table) {
  struct TCase {
    std::string Line;
    std::string Expected;
  } cases[] = {
      {"IGATE>APRS,WIDE2-1:}W1ABC>APRS,TCPIP,IGATE*::N0CALL   :hi{1",
       "W1ABC>APRS,TCPIP,IGATE*::N0CALL   :hi{1"},
      {"IGATE>APRS:}", ""},
      {"IGATE>APRS:x}W1ABC>APRS:y", "IGATE>APRS:x}W1ABC>APRS:y"},
      {"IGATE>APRS:", "IGATE>APRS:"},
      {"no colon at all }", "no colon at all }"},
      // Only one layer comes off; the carried packet is judged as it stands.
      {"A>B:}C>D:}E>F:x", "C>D:}E>F:x"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Line);
    EXPECT_EQ(UnwrapThirdParty(c.Line), c.Expected);
  }
}

// Every source's text, a monitor's time word and line ends included, reaches the parser as
// the packet a third-party packet carries; the two rules above, one after the other.
TEST(IntakePacketLine, CleansThenUnwraps) {
  EXPECT_EQ(IntakePacketLine("*12:00:00 IGATE>AP\r\nRS,TCPIP*:}W1ABC>APRS::N0CALL   :hi{1\r\n"),
            "W1ABC>APRS::N0CALL   :hi{1");
  EXPECT_EQ(IntakePacketLine("*W1ABC>APRS::N0CALL   :a }b"), "W1ABC>APRS::N0CALL   :a }b");
}

TEST(CleanPacketText, IntakeThenParse) {
  const auto p =
      ParseAprsPacket(CleanPacketText("*09:15:02 Q1ABC-7>APRS,WIDE2-1::NWS_WARN :Flood Warning,"
                                      "Until 1530,OK,Oklahoma County{12345\r\n"));
  EXPECT_TRUE(p->Selected);
  EXPECT_EQ(p->Source.FullCall, "Q1ABC-7");
  EXPECT_EQ(p->Addressee, "NWS-WARN");
  EXPECT_EQ(p->Kind, mkNwsAlert);
  EXPECT_EQ(p->State, "OK");
  EXPECT_EQ(p->MessageId, "12345");

  EXPECT_FALSE(ParseAprsPacket(CleanPacketText("*"))->Selected);
}

}  // namespace
}  // namespace qm
