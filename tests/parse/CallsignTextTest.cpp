#include <gtest/gtest.h>

#include "parse/CallsignText.h"

namespace qm {
namespace {

TEST(CallsignText, CallsAndStationListEntries) {
  struct {
    const char* text;
    bool call;
    bool entry;
  } const cases[] = {
      {"N0CALL", true, true},
      {"ae5pl-10", true, true},
      {"EOC-WX", true, true},
      {"K", true, true},
      {"ABCDEFGHI", true, true},
      {"ABCDEFGHIJ", false, true},
      {"N0CALL-", false, true},
      {"N0CALL-123", false, true},
      {"N0-CALL-1", false, true},
      {"-1", false, true},
      {"", false, false},
      {"MY CALL", false, true},
      {"EOC-ALPHA", false, true},
      {"NET-CTRL", false, true},
      {"K5*", false, true},
      {"AE5PL-*", false, true},
      {"AE5PL-1*", false, true},
      {"*", false, false},
      {"NO*ALL", false, true},
      {"*X", false, true},
      {"N0CALL\n", false, false},
      {"N0\tCALL", false, false},
      {"N0CALL\x7F", false, false},
      {"N\xC3\x98"
       "CALL",
       false, true},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(IsCallsign(c.text), c.call) << c.text;
    EXPECT_EQ(IsStationListEntry(c.text), c.entry) << c.text;
  }
  EXPECT_EQ(NotACallsignText("MY CALL"),
            "\"MY CALL\" is not a callsign: use letters and digits, with at most one -SSID (for example "
            "N0CALL-10)");
}

}  // namespace
}  // namespace qm
