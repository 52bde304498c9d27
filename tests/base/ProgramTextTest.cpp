// The program's bytes shown as Qt text and Qt text back as the program's bytes.
#include "base/ProgramText.h"

#include <gtest/gtest.h>
#include <QString>

#include <string>

namespace qm {
namespace {

TEST(DisplayText, Utf8WhenValidElseWindows1252) {
  struct Case {
    const char* name;
    std::string bytes;
    QString shown;
  } cases[] = {
      {"ascii", "NOCALL>APRS:hi", QStringLiteral("NOCALL>APRS:hi")},
      {"empty", "", QString()},
      {"utf-8 two bytes", "caf\xC3\xA9", QStringLiteral("caf\u00E9")},
      {"utf-8 euro", "\xE2\x82\xAC", QStringLiteral("\u20AC")},
      {"utf-8 four bytes", "\xF0\x9F\x93\xA0", QString::fromUtf8("\xF0\x9F\x93\xA0")},
      {"lone latin-1 byte", "caf\xE9", QStringLiteral("caf\u00E9")},
      {"cp1252 euro and quotes", "\x80\x93\x94", QStringLiteral("\u20AC\u201C\u201D")},
      {"cp1252 undefined bytes", "\x81\x8D\x8F\x90\x9D", QStringLiteral("\u0081\u008D\u008F\u0090\u009D")},
      {"overlong slash", "\xC0\xAF", QStringLiteral("\u00C0\u00AF")},
      {"utf-16 surrogate", "\xED\xA0\x80", QStringLiteral("\u00ED\u00A0\u20AC")},
      {"cut sequence", "ab\xE2\x82", QStringLiteral("ab\u00E2\u201A")},
      {"above U+10FFFF", "\xF4\x90\x80\x80", QStringLiteral("\u00F4\u0090\u20AC\u20AC")},
      {"nul kept", std::string("a\0b", 3), QString(QStringLiteral("a")) + QChar(0) + QStringLiteral("b")},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(DisplayText(c.bytes), c.shown);
  }
}

TEST(ProgramText, GivesUtf8Bytes) {
  EXPECT_EQ(ProgramText(QStringLiteral("caf\u00E9")), "caf\xC3\xA9");
  EXPECT_EQ(ProgramText(QString()), "");
  EXPECT_EQ(DisplayText(ProgramText(QStringLiteral("\u20AC NOCALL"))), QStringLiteral("\u20AC NOCALL"));
}

}  // namespace
}  // namespace qm
