#include <gtest/gtest.h>

#include "select/CallsignText.h"

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
      {"ABCDEFGHIJ", false, false},
      {"N0CALL-", false, false},
      {"N0CALL-123", false, false},
      {"N0-CALL-1", false, false},
      {"-1", false, false},
      {"", false, false},
      {"MY CALL", false, false},
      {"HELLO WORLD!!", false, false},
      {"N0CALL ", false, false},
      {"K5*", false, true},
      {"AE5PL-*", false, true},
      {"AE5PL-1*", false, true},
      {"*", false, false},
      {"K5**", false, false},
      {"K*5", false, false},
      {"N0CALL\n", false, false},
      {"N\xC3\x98"
       "CALL",
       false, false},
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
