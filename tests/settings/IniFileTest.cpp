#include "settings/IniFile.h"

#include <gtest/gtest.h>

namespace qm {
namespace {

TEST(IniFile, ReadsKeysWithProfileRules) {
  const TIniFile ini(
      "; leading comment\n"
      "[Info]\r\n"
      "Version=1.3.3.1\r\n"
      "  Spaced  = \t value with blanks \t \r\n"
      "Empty=\n"
      "NoEquals line\n"
      "; Commented=1\n"
      "Dup=first\n"
      "dup=second\n"
      "[ Padded ]\n"
      "k=v=w\n"
      "[info]\n"
      "Hidden=1\n"
      "[Last]\n"
      "Tail=no line end");
  struct TCase {
    const char* Section;
    const char* Key;
    const char* Expected;  // nullptr: missing
  };
  const TCase cases[] = {
      {"Info", "Version", "1.3.3.1"},
      {"INFO", "VERSION", "1.3.3.1"},
      {"Info", "Spaced", "value with blanks"},
      {"Info", "Empty", ""},
      {"Info", "NoEquals line", nullptr},
      {"Info", "; Commented", nullptr},
      {"Info", "DUP", "first"},
      {"Padded", "k", "v=w"},
      {"Info", "Hidden", nullptr},  // only a section's first header counts
      {"Last", "Tail", "no line end"},
      {"Missing", "Version", nullptr},
      {"Info", "Missing", nullptr},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.Section) + "/" + c.Key);
    const auto value = ini.Read(c.Section, c.Key);
    if (c.Expected) {
      ASSERT_TRUE(value.has_value());
      EXPECT_EQ(*value, c.Expected);
    } else {
      EXPECT_FALSE(value.has_value());
      EXPECT_EQ(ini.ReadString(c.Section, c.Key, "dflt"), "dflt");
    }
  }
}

TEST(IniFile, CutsLongValuesTo2047AndKeepsThemTrimmed) {
  const std::string exact(2047, 'a');
  const std::string longer = exact + "bcd";
  const std::string blankAtCut = std::string(2045, 'x') + "   yyy";
  TIniFile ini;
  ini.WriteString("S", "Exact", exact);
  ini.WriteString("S", "Longer", longer);
  ini.WriteString("S", "BlankAtCut", blankAtCut);
  EXPECT_EQ(ini.ReadString("S", "Exact", ""), exact);
  EXPECT_EQ(ini.ReadString("S", "Longer", ""), exact);
  EXPECT_EQ(ini.ReadString("S", "BlankAtCut", ""), std::string(2045, 'x'));
  // The file itself keeps what was written.
  EXPECT_NE(ini.Text().find(longer), std::string::npos);
}

TEST(IniFile, WritesInPlaceAtSectionEndAndAtFileEnd) {
  TIniFile ini(
      "[A]\n"
      "one=1\n"
      "; about two\n"
      "Two=2\n"
      "\n"
      "; trailing comment of A\n"
      "[B]\n"
      "three=3\n");
  ini.WriteString("a", "TWO", "22");     // in place, spelling of the file kept
  ini.WriteString("A", "four", "4");     // after the last key of A, before its trailing lines
  ini.WriteString("C", "five", "5");     // new section at the end
  ini.WriteString("C", "six", "");       // empty value
  ini.WriteString("B", "three", " 3 ");  // written unchanged
  EXPECT_EQ(ini.Text(),
            "[A]\r\n"
            "one=1\r\n"
            "; about two\r\n"
            "Two=22\r\n"
            "four=4\r\n"
            "\r\n"
            "; trailing comment of A\r\n"
            "[B]\r\n"
            "three= 3 \r\n"
            "[C]\r\n"
            "five=5\r\n"
            "six=\r\n");
  EXPECT_EQ(ini.ReadString("B", "three", ""), "3");
}

TEST(IniFile, NewKeyInSectionWithoutKeysFollowsHeader) {
  TIniFile ini("[A]\n; only a comment\n[B]\nx=1\n");
  ini.WriteString("A", "k", "v");
  EXPECT_EQ(ini.Text(), "[A]\r\nk=v\r\n; only a comment\r\n[B]\r\nx=1\r\n");
}

TEST(IniFile, EraseRemovesEveryHeaderOfTheNameWithItsLines) {
  TIniFile ini("; top\n[A]\nk=1\n; note\n[B]\nx=1\n[a]\nk=2\n[C]\ny=1\n");
  ini.EraseSection("A");
  EXPECT_EQ(ini.Text(), "; top\r\n[B]\r\nx=1\r\n[C]\r\ny=1\r\n");
  EXPECT_FALSE(ini.SectionExists("a"));
  ini.EraseSection("Missing");
  EXPECT_EQ(ini.Text(), "; top\r\n[B]\r\nx=1\r\n[C]\r\ny=1\r\n");
}

TEST(IniFile, LineFeedsInWrittenTextCannotAddLines) {
  TIniFile ini;
  ini.WriteString("S", "k", "a\r\n[Evil]\r\nx=1");
  EXPECT_FALSE(ini.SectionExists("Evil"));
  EXPECT_EQ(ini.Lines().size(), 2u);
}

TEST(IniFile, ListsSectionsAndKeysOnceInFileOrder) {
  const TIniFile ini("[One]\nb=1\nB=2\na=3\n[two]\n[ONE]\nc=1\n");
  EXPECT_EQ(ini.SectionNames(), (std::vector<std::string>{"One", "two"}));
  EXPECT_EQ(ini.KeyNames("one"), (std::vector<std::string>{"b", "a"}));
  EXPECT_TRUE(ini.KeyNames("two").empty());
}

TEST(IniFile, ParseKeepsUnknownLinesAndEndsEveryLineWithCrLf) {
  const std::string text = "junk without equals\n\n;c\r\n[S]\r\n  k = v \n";
  const TIniFile ini(text);
  EXPECT_EQ(ini.Text(), "junk without equals\r\n\r\n;c\r\n[S]\r\n  k = v \r\n");
  EXPECT_EQ(TIniFile("").Text(), "");
}

}  // namespace
}  // namespace qm
