#include "base/AsciiText.h"

#include <gtest/gtest.h>

namespace qm {
namespace {

TEST(AsciiText, UpperCaseChangesOnlyAtoZ) {
  struct Case {
    std::string in, expected;
  } cases[] = {
      {"", ""},
      {"abcxyz", "ABCXYZ"},
      {"q1abc-7*", "Q1ABC-7*"},
      {"`{|}~@[", "`{|}~@["},                    // neighbours of the letter ranges stay
      {"\xE9\xE0\xFF\xB5", "\xE9\xE0\xFF\xB5"},  // Latin-1 letters are not the program's letters
      {std::string("a\0b", 3), std::string("A\0B", 3)},
      {"nocall-9", "NOCALL-9"},
      {"NoCall", "NOCALL"},
      {"a-z{}`@[", "A-Z{}`@["},
      {"caf\xC3\xA9", "CAF\xC3\xA9"},  // UTF-8 bytes stay as they are
      {"\xE9t\xE9", "\xE9T\xE9"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.in);
    EXPECT_EQ(UpperCase(c.in), c.expected);
  }
  EXPECT_EQ(UpCase('m'), 'M');
  EXPECT_EQ(UpCase('M'), 'M');
  EXPECT_EQ(UpCase('\xFF'), '\xFF');
}

TEST(AsciiText, TrimRemovesCodesUpTo32AtBothEnds) {
  struct Case {
    std::string in, expected;
  } cases[] = {
      {"", ""},
      {"   ", ""},
      {"  a b  ", "a b"},
      {"\t\r\n\x01x\x1F\x20", "x"},
      {std::string("\0abc\0", 5), "abc"},
      {"\x7F"
       "abc\x80",
       "\x7F"
       "abc\x80"},  // 127 and high bytes are above 32 as unsigned
      {"\xA0x\xFF", "\xA0x\xFF"},
      {"a\tb", "a\tb"},  // inside stays
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.in);
    EXPECT_EQ(Trim(c.in), c.expected);
    EXPECT_EQ(TrimView(c.in), c.expected);
  }
}

TEST(AsciiText, IsDigitOnlyZeroToNine) {
  for (int c = -128; c < 128; ++c) {
    SCOPED_TRACE(c);
    EXPECT_EQ(IsDigit(static_cast<char>(c)), c >= '0' && c <= '9');
  }
}

}  // namespace
}  // namespace qm
