#include "select/EntryLines.h"

#include <gtest/gtest.h>

#include <optional>

#include "tests/support/PacketBuilder.h"

namespace qm {
namespace {

using test::MakePacket;

TEST(EntryLines, TimeLineShowsLocalAndUtc) {
  const TDateTime local = EncodeDateTime({2026, 12, 7, 16, 5, 9, 0});
  const TDateTime utc = EncodeDateTime({2026, 12, 7, 21, 5, 9, 0});
  EXPECT_EQ(EntryLine1(local, utc), "LOCAL:[12/07/2026 16:05:09]  UTC:[12/07/2026 21:05:09]");
  const TDateTime midnight = EncodeDateTime({2027, 1, 1, 0, 0, 0, 0});
  EXPECT_EQ(EntryLine1(midnight, midnight), "LOCAL:[01/01/2027]  UTC:[01/01/2027]");
}

TEST(EntryLines, AddressAndTextLines) {
  TAprsMsgPacket personal = MakePacket(mkPersonal, "NOCALL-5", "KB1ABC", "Hi there", "42");
  personal.Destination.FullCall = "APU25N";
  personal.Path = "WIDE1-1,WIDE2-1";
  EXPECT_EQ(EntryLine2(personal), "  NOCALL-5>APU25N via WIDE1-1,WIDE2-1");
  EXPECT_EQ(EntryLine3(personal), "  KB1ABC: Hi there") << "a personal line leaves the number out";

  personal.Path.clear();
  EXPECT_EQ(EntryLine2(personal), "  NOCALL-5>APU25N via ");

  const TAprsMsgPacket alert = MakePacket(mkNwsAlert, "NWSBOT", "NWS-WARN", "TORNADO,xx,OK ", "Q1B");
  EXPECT_EQ(EntryLine3(alert), "  NWS-WARN: TORNADO,xx,OK  {Q1B");
  const TAprsMsgPacket unnumbered = MakePacket(mkNwsAlert, "NWSBOT", "NWS-WARN", "FLOOD", "");
  EXPECT_EQ(EntryLine3(unnumbered), "  NWS-WARN: FLOOD {");
  const TAprsMsgPacket empty = MakePacket(mkBulletin, "NOCALL", "BLN1", "", "");
  EXPECT_EQ(EntryLine3(empty), "  BLN1: ");
}

TEST(EntryLines, CountTextKeepsTheSettingAsTyped) {
  EXPECT_EQ(CountText(3, "ten"), "3 of ten messages collected");
  EXPECT_EQ(CountText(21, "20"), "21 of 20 messages collected");
  EXPECT_EQ(CountText(0, ""), "0 of  messages collected");
  EXPECT_EQ(CountText(1, " 20 "), "1 of  20  messages collected");
}

TEST(EntryLines, PageLimitIsTheSettingInDecimalDigitsOr40) {
  const struct {
    const char* text;
    int limit;
  } cases[] = {
      {"20", 20},         {"", 40},     {"ten", 40}, {"0", 0},     {"007", 7},
      {"$14", 40},        {"0x10", 40}, {"x10", 40}, {"  20", 40}, {"20 ", 40},
      {"2 0", 40},        {"-5", 40},   {"+7", 40},  {"1e3", 40},  {"2147483647", 2147483647},
      {"2147483648", 40}, {"\t20", 40}, {"٣", 40},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string("\"") + c.text + "\"");
    EXPECT_EQ(PageLimit(c.text), c.limit);
  }
}

TEST(EntryLines, FingerQueryIsSenderAndFirstThreeOfTheNumber) {
  const struct {
    std::string from, number;
    std::optional<std::string> query;
  } cases[] = {
      {"NOCALL", "12345", "NOCALL123"},
      {"NOCALL", "12", "NOCALL12"},
      {"NOCALL", "", "NOCALL"},
      {"NOCALL-5", "12345", "NOCALL-5123"},
      {"NOCALL-5", "A1B", "NOCALL-5A1B"},
      {"nwsbot", "a1", "nwsbota1"},
      // What a server would relay to another host, or no name carries: never sent.
      {"X@EVIL.CO", "M12", std::nullopt},
      {std::string("NWS\0BOT", 7), "123", std::nullopt},
      {"NWSBOT", "\x1b[2", std::nullopt},
      {"NWSBOT", "12\xe9", std::nullopt},
      {"", "", std::nullopt},
      // Only the three characters that go out are judged.
      {"NWSBOT", "123@X", "NWSBOT123"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.from + "|" + c.number);
    EXPECT_EQ(FingerQuery(MakePacket(mkNwsAlert, c.from, "NWS-WARN", "x", c.number)), c.query);
  }
}

TEST(EntryLines, FullTextDocumentJoinsWithBareCarriageReturns) {
  EXPECT_EQ(FullTextDocument("L1", "L3", "line a\r\nline b\n"), "L1\rL3\r\rline a\r\nline b\n");
  EXPECT_EQ(FullTextDocument("L1", "L3", ""), "L1\rL3\r\r");
  const std::string binary("\0\xff\r", 3);
  EXPECT_EQ(FullTextDocument("", "", binary), std::string("\r\r\r") + binary);
}

TEST(EntryLines, FullTextCategoryFollowsTheTrimmedAddressee) {
  const struct {
    const char* what;
    TAprsMsgKind kind;
    const char* addressee;
    TFullTextChoices boxes;
    TNwsCategory category;
  } cases[] = {
      {"watch", mkNwsAlert, "NWS-WATCH", {true, false, false}, ncWatch},
      {"warning", mkNwsAlert, "NWS-WARN", {false, true, false}, ncWarning},
      {"advisory", mkNwsAlert, "NWS-ADVIS", {false, false, true}, ncAdvisory},
      {"warning, only the watch box", mkNwsAlert, "NWS-WARN", {true, false, true}, ncNone},
      {"padded addressee", mkNwsAlert, "NWS-WARN ", {false, true, false}, ncWarning},
      {"lower case", mkNwsAlert, "nws-warn", {true, true, true}, ncNone},
      {"other category", mkNwsAlert, "NWS-TORNADO", {true, true, true}, ncNone},
      {"not an alert", mkPersonal, "NWS-WARN", {true, true, true}, ncNone},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(FullTextCategoryFor(MakePacket(c.kind, "NWSBOT", c.addressee), c.boxes), c.category);
  }
  EXPECT_STREQ(NwsCategoryAddressee(ncWarning), "NWS-WARN");
  EXPECT_EQ(NwsCategoryAddressee(ncNone), nullptr);
}

}  // namespace
}  // namespace qm
