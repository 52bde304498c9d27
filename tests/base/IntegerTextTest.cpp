#include "base/IntegerText.h"

#include <gtest/gtest.h>

#include <cstdint>

namespace qm {
namespace {

// The settings and the page limit read numbers through these readers and test the cases
// each cares about; these are the edges of the readers themselves.
TEST(IntegerText, ReadsWholeIntegersAndLeavesTheValueOnFailure) {
  const struct {
    const char* text;
    std::int32_t settings, decimal;  // 7: not a number, the value left as it was
  } cases[] = {
      {"  12", 12, 7},
      {"12", 12, 12},
      {"12 ", 7, 7},
      {"\t12", 7, 7},
      {"+8", 8, 7},
      {"-5", -5, 7},
      {"x1A", 7, 7},
      {"$14", 20, 7},
      {"0x10", 16, 7},
      {"0x", 7, 7},
      {"$FFFFFFFF", -1, 7},
      {"$100000000", 7, 7},
      {"-2147483648", INT32_MIN, 7},
      {"2147483647", INT32_MAX, INT32_MAX},
      {"2147483648", 7, 7},
      {"+", 7, 7},
      {"", 7, 7},
      {"99999999999999999999", 7, 7},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    std::int32_t value = 7;
    EXPECT_EQ(TryParseInteger(c.text, value), c.settings != 7);
    EXPECT_EQ(value, c.settings);
    std::int32_t decimal = 7;
    EXPECT_EQ(TryParseDecimal(c.text, decimal), c.decimal != 7);
    EXPECT_EQ(decimal, c.decimal);
    EXPECT_EQ(StrToIntDef(c.text, 7), c.settings);
  }
}

}  // namespace
}  // namespace qm
