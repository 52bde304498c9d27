#include "base/IntegerText.h"

#include <gtest/gtest.h>

#include <cstdint>

namespace qm {
namespace {

// The settings and the page limit read numbers through this one reader and test the
// cases each cares about; these are the edges of the reader itself.
TEST(IntegerText, ReadsWholeIntegersAndLeavesTheValueOnFailure) {
  const struct {
    const char* text;
    std::int32_t settings, pascal;  // 7: not a number, the value left as it was
  } cases[] = {
      {"  12", 12, 12},      {"12 ", 7, 7},        {"\t12", 7, 7},
      {"x1A", 7, 26},        {"-X10", 7, -16},     {"0x", 7, 7},
      {"$FFFFFFFF", -1, -1}, {"$100000000", 7, 7}, {"-2147483648", INT32_MIN, INT32_MIN},
      {"2147483648", 7, 7},  {"+", 7, 7},          {"99999999999999999999", 7, 7},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    std::int32_t value = 7;
    EXPECT_EQ(TryParseInteger(c.text, value), c.settings != 7);
    EXPECT_EQ(value, c.settings);
    EXPECT_EQ(StrToIntDef(c.text, 7, THexPrefix::AlsoBareX), c.pascal);
  }
}

}  // namespace
}  // namespace qm
