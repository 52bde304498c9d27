#include <gtest/gtest.h>

#include "parse/QuillmarkParse.h"

namespace qm {
namespace {

TEST(ParseCallSign, Table) {
  struct Case {
    const char* in;
    const char* base;
    int ssid;
    const char* full;
    bool valid;
  } cases[] = {
      {"", "", 0, "", false},
      {"NOCALL-9", "NOCALL", 9, "NOCALL-9", true},
      {"NOCALL-0", "NOCALL", 0, "NOCALL", true},
      {"NOCALL7", "NOCALL", 7, "NOCALL-7", true},  // digits right after a letter are an SSID
      {"Q1ABC12", "Q1ABC", 12, "Q1ABC-12", true},
      {"NOCALL", "NOCALL", 0, "NOCALL", true},
      {"Q1ABC-X", "Q1ABC-X", 0, "Q1ABC-X", true},  // ends in a letter: kept whole
      {"NOCALL-", "NOCALL-", 0, "NOCALL-", true},
      {"NOCALL-300", "NOCALL", 44, "NOCALL-44", true},  // low 8 bits
      {"NOCALL-256", "NOCALL", 0, "NOCALL", true},
      {"NOCALL-255", "NOCALL", 255, "NOCALL-255", true},
      {"NOCALL-007", "NOCALL", 7, "NOCALL-7", true},
      {"WIDE2-2", "WIDE2", 2, "WIDE2-2", true},
      {"NOCALL-99999999999", "NOCALL", 0, "NOCALL", true},  // no 32-bit integer
      {"NOCALL-1x2", "NOCALL", 0, "NOCALL", true},          // not a number
      {"nocall-9", "NOCALL", 9, "NOCALL-9", true},          // base upper-cased
      {"Q1-ab3", "Q1", 0, "Q1", true},
      {"-5", "", 5, "-5", true},
      {"A12", "A", 12, "A-12", true},
      // Ends in a digit with neither "-" nor a capital letter: a lower-case call reads as
      // its upper-cased form, a text without letters stays whole.
      {"nocall7", "NOCALL", 7, "NOCALL-7", true},
      {"apdw16", "APDW", 16, "APDW-16", true},
      {"12345", "12345", 0, "12345", true},
      {"/123", "/123", 0, "/123", true},
      {"7", "7", 0, "7", true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.in);
    const TCallSign cs = ParseCallSign(c.in);
    EXPECT_EQ(cs.BaseCall, c.base);
    EXPECT_EQ(cs.SSID, c.ssid);
    EXPECT_EQ(cs.FullCall, c.full);
    EXPECT_EQ(cs.Valid, c.valid);
  }
}

TEST(ParseCallSign, LowerCaseReadsAsUpperCaseWhenNoCapital) {
  for (const char* t : {"nocall7", "q0demo9", "ab1c2", "apdw16", "x1"}) {
    SCOPED_TRACE(t);
    std::string upper(t);
    for (char& ch : upper) ch = static_cast<char>(ch >= 'a' && ch <= 'z' ? ch - 32 : ch);
    const TCallSign a = ParseCallSign(t), b = ParseCallSign(upper);
    EXPECT_EQ(a.FullCall, b.FullCall);
    EXPECT_EQ(a.SSID, b.SSID);
  }
}

TEST(SplitFirstToken, Table) {
  struct Case {
    std::string text;
    std::string delimiters;
    std::string token, rest;
  } cases[] = {
      {"12:34:56 Q1ABC>APRS::x", " ", "12:34:56", "Q1ABC>APRS::x"},
      {"  word   rest of it  ", " ", "", "word   rest of it"},  // a leading blank is the first delimiter
      {"word   rest  \r\n", " ", "word", "rest"},
      {"word", " ", "word", ""},
      {"\tword\t", " ", "word", ""},
      {"", " ", "", ""},
      {" ", " ", "", ""},
      {"a,b;c", ";,", "a", "b;c"},
      {"a b", "", "a b", ""},  // no delimiters: the text is all token
      {"a\tb", "\t", "a", "b"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    std::string text = c.text;
    std::string token = "stale";
    SplitFirstToken(text, c.delimiters, token);
    EXPECT_EQ(token, c.token);
    EXPECT_EQ(text, c.rest);
  }
}

TEST(SplitFirstToken, TextAndTokenMayBeOneString) {
  std::string s = " ab cd ";
  SplitFirstToken(s, " ", s);
  EXPECT_EQ(s, "");  // Token is written last
  s = "ab cd";
  SplitFirstToken(s, " ", s);
  EXPECT_EQ(s, "ab");
  s = "abcd";
  SplitFirstToken(s, " ", s);
  EXPECT_EQ(s, "abcd");
}

}  // namespace
}  // namespace qm
