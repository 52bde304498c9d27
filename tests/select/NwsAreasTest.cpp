#include "select/NwsAreas.h"

#include <gtest/gtest.h>

#include "base/AsciiText.h"

namespace qm {
namespace {

TEST(AreasMatch, EntriesAndStars) {
  TNwsAlert alert;
  alert.Areas = {{"OK", 'C', 109}, {"TX", 'Z', 123}};
  struct TCase {
    const char* what;
    std::vector<std::string> list;
    bool match;
  };
  const TCase cases[] = {
      {"empty list", {}, true},
      {"a county named", {"OK_C109"}, true},
      {"a zone named, lower case, blanks", {" tx_z123 "}, true},
      {"another county", {"OK_C111"}, false},
      {"a county of the same number as a zone", {"TX_C123"}, false},
      {"a code's start without a star", {"OK_C"}, false},
      {"every county of a state", {"OK_C*"}, true},
      {"every zone of a state", {"OK_Z*"}, false},
      {"every area of a state", {"tx*"}, true},
      {"a star alone", {"*"}, true},
      {"one of several", {"KS_C001", "TX_Z12*"}, true},
      {"blank entries only", {"", "  "}, false},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(AreasMatch(alert, c.list), c.match);
  }
  EXPECT_FALSE(AreasMatch(TNwsAlert{}, {"OK_C*"}));
  EXPECT_TRUE(AreasMatch(TNwsAlert{}, {}));
}

TEST(AreaList, EntriesAsTyped) {
  std::string bad;
  EXPECT_EQ(ReadAreaList(" ok_c109, TX_Z123 OK_C1*,,TX* ", bad),
            (std::vector<std::string>{"OK_C109", "TX_Z123", "OK_C1*", "TX*"}));
  EXPECT_EQ(ReadAreaList("", bad), std::vector<std::string>{});
  for (const char* entry :
       {"OK", "OK_C10", "OK_C1090", "OK_X109", "O*", "*", "OK-C109", "1K_C109", "OK_C*9"}) {
    SCOPED_TRACE(entry);
    EXPECT_FALSE(ReadAreaList(std::string("OK_C109,") + entry, bad));
    EXPECT_EQ(bad, UpperCase(entry));
  }
  EXPECT_EQ(
      NotAnAreaListEntryText("OK\x01"),
      "\"OK?\" is no NWS area: give a county or zone code such as OK_C109 or TX_Z123, or its start and * "
      "(OK_C*)");
  EXPECT_EQ(AreaListText({"OK_C109", "TX*"}), "OK_C109, TX*");
}

}  // namespace
}  // namespace qm
