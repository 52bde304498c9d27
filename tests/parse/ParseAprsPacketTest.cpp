#include <gtest/gtest.h>

#include "parse/QuillmarkParse.h"

namespace qm {
namespace {

constexpr std::uint32_t kTick = 123456u;
constexpr TDateTime kUtc = 46000.25;

std::unique_ptr<TAprsMsgPacket> Parse(std::string_view s) {
  return ParseAprsPacket(s, kTick, kUtc);
}

void ExpectEmptyCall(const TCallSign& c) {
  EXPECT_EQ(c.BaseCall, "");
  EXPECT_EQ(c.SSID, 0);
  EXPECT_EQ(c.FullCall, "");
  EXPECT_FALSE(c.Valid);
}

// Everything but the three stamps still as a new packet has it.
void ExpectUntouched(const TAprsMsgPacket& p, std::string_view raw) {
  EXPECT_EQ(p.RawText, raw);
  EXPECT_EQ(p.TickCount, kTick);
  EXPECT_EQ(p.ReceivedUtc, kUtc);
  EXPECT_EQ(p.Header, "");
  ExpectEmptyCall(p.Source);
  ExpectEmptyCall(p.Destination);
  EXPECT_EQ(p.Path, "");
  EXPECT_EQ(p.Body, "");
  EXPECT_FALSE(p.SourceStarred);
  EXPECT_FALSE(p.Selected);
  EXPECT_EQ(p.Kind, mkNone);
  EXPECT_EQ(p.MessageId, "");
  EXPECT_EQ(p.State, "");
  EXPECT_EQ(p.MessageText, "");
  EXPECT_EQ(p.Addressee, "");
}

TEST(ParseAprsPacket, NewPacketIsEmpty) {
  const TAprsMsgPacket p;
  EXPECT_EQ(p.TickCount, 0u);
  EXPECT_EQ(p.ReceivedUtc, 0.0);
  EXPECT_FALSE(p.Selected);
  EXPECT_EQ(p.Kind, mkNone);
  EXPECT_EQ(static_cast<int>(mkNwsAlert), 4);
  EXPECT_EQ(sizeof(TAprsMsgKind), 1u);
}

TEST(ParseAprsPacket, FullMessage) {
  const std::string s = "Q1ABC-7*>APRS,WIDE1-1,WIDE2-1::Q0DEMO-9 :Hello there {42";
  const auto p = Parse(s);
  EXPECT_EQ(p->RawText, s);
  EXPECT_TRUE(p->Selected);
  EXPECT_EQ(p->Header, "Q1ABC-7*>APRS,WIDE1-1,WIDE2-1");
  EXPECT_EQ(p->Body, "Q0DEMO-9 :Hello there {42");
  EXPECT_TRUE(p->SourceStarred);
  EXPECT_EQ(p->Source.FullCall, "Q1ABC-7");
  EXPECT_EQ(p->Source.BaseCall, "Q1ABC");
  EXPECT_EQ(p->Source.SSID, 7);
  EXPECT_TRUE(p->Source.Valid);
  EXPECT_EQ(p->Destination.FullCall, "APRS");
  EXPECT_EQ(p->Path, "WIDE1-1,WIDE2-1");
  EXPECT_EQ(p->Addressee, "Q0DEMO-9");
  EXPECT_EQ(p->MessageText, "Hello there ");  // not trimmed
  EXPECT_EQ(p->MessageId, "42");
  EXPECT_EQ(p->Kind, mkPersonal);
  EXPECT_EQ(p->State, "");
}

TEST(ParseAprsPacket, UnusableTextsStopEarlyWithFieldsUntouched) {
  const char* cases[] = {
      "",
      ":",
      "Q1ABC>APRS",                           // no ":"
      "Q1ABC>APRS:!4903.50N/07201.75W-Test",  // a position, not a message
      "Q1ABC>APRS:",                          // nothing after the ":"
      "Q1ABC>APRS:>status",
      "Q1ABC:>APRS::Q0DEMO-9 :hi",  // ">" after the first ":"
      "Q1ABC:X>Y::Q0DEMO-9 :hi",
      "ABCDEFGHIJ>APRS::Q0DEMO-9 :hi",  // 10 characters without "*"
      "ABCDEFGHIJK>APRS::Q0DEMO-9 :hi",
      "ABCDEFGHIJ*>APRS::Q0DEMO-9 :hi",  // 11 characters, "*" or not
      "Q1ABC>APRS: :Q0DEMO-9 :hi",
  };
  for (const char* s : cases) {
    SCOPED_TRACE(s);
    const auto p = Parse(s);
    ASSERT_NE(p, nullptr);
    ExpectUntouched(*p, s);
  }
}

TEST(ParseAprsPacket, BareDoubleColonIsAnEmptyMessage) {
  const auto p = Parse("::");
  EXPECT_TRUE(p->Selected);
  EXPECT_EQ(p->Header, "");
  EXPECT_EQ(p->Body, "");
  EXPECT_FALSE(p->Source.Valid);
  EXPECT_FALSE(p->Destination.Valid);
  EXPECT_EQ(p->Addressee, "");
  EXPECT_EQ(p->Kind, mkPersonal);
}

TEST(ParseAprsPacket, SourceLength) {
  struct Case {
    const char* in;
    bool selected;
    bool starred;
    const char* source;
  } cases[] = {
      {"ABCDEFGHI>APRS::Q0DEMO-9 :hi", true, false, "ABCDEFGHI"},  // ">" at position 10
      {"ABCDEFGH*>APRS::Q0DEMO-9 :hi", true, true, "ABCDEFGH"},
      {"ABCDEFGHI*>APRS::Q0DEMO-9 :hi", true, true, "ABCDEFGHI"},  // 10 with "*"
      {"AB*DEFGHI>APRS::Q0DEMO-9 :hi", true, true,
       "AB*DEFGH"},  // the last character goes, wherever the "*" is
      {"Q1ABC-15*>APRS::Q0DEMO-9 :hi", true, true, "Q1ABC-15"},
      {"*>APRS::Q0DEMO-9 :hi", true, true, ""},
      {">APRS::Q0DEMO-9 :hi", true, false, ""},
      {"ABCDEFGHIJ>APRS::Q0DEMO-9 :hi", false, false, ""},
      {"ABCDEFGHIJ*>APRS::Q0DEMO-9 :hi", false, false, ""},
      {"ABCDEFGHIJK>APRS::Q0DEMO-9 :hi", false, false, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.in);
    const auto p = Parse(c.in);
    EXPECT_EQ(p->Selected, c.selected);
    EXPECT_EQ(p->SourceStarred, c.starred);
    EXPECT_EQ(p->Source.FullCall, c.source);
    EXPECT_EQ(p->Source.Valid, c.source[0] != '\0');
  }
}

TEST(ParseAprsPacket, SourceIsUpperCasedBeforeItIsRead) {
  struct Case {
    const char* in;
    const char* full;
    int ssid;
  } cases[] = {
      {"q1abc-7>APRS::Q0DEMO-9 :hi", "Q1ABC-7", 7},
      {"q1abc7>APRS::Q0DEMO-9 :hi", "Q1ABC-7", 7},
      {"q1Abc>APRS::Q0DEMO-9 :hi", "Q1ABC", 0},
      {"q1ab-300>APRS::Q0DEMO-9 :hi", "Q1AB-44", 44},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.in);
    const auto p = Parse(c.in);
    EXPECT_TRUE(p->Selected);
    EXPECT_EQ(p->Source.FullCall, c.full);
    EXPECT_EQ(p->Source.SSID, c.ssid);
  }
}

TEST(ParseAprsPacket, DestinationAndPath) {
  struct Case {
    const char* in;
    const char* header;
    const char* source;
    const char* destination;
    const char* path;
  } cases[] = {
      {"Q1ABC>APRS::Q0DEMO-9 :hi", "Q1ABC>APRS", "Q1ABC", "APRS", ""},
      {"Q1ABC>APZ123,WIDE2-2::Q0DEMO-9 :hi", "Q1ABC>APZ123,WIDE2-2", "Q1ABC", "APZ-123", "WIDE2-2"},
      {"Q1ABC>APRS,TCPIP*,qAC,Q2SRV::Q0DEMO-9 :hi", "Q1ABC>APRS,TCPIP*,qAC,Q2SRV", "Q1ABC", "APRS",
       "TCPIP*,qAC,Q2SRV"},
      {"Q1ABC>APRS,::Q0DEMO-9 :hi", "Q1ABC>APRS,", "Q1ABC", "APRS", ""},
      // A second ">" and no ",": the destination is what follows that ">".
      {"Q1ABC>Q2DEF-3>APRS::Q0DEMO-9 :hi", "Q1ABC>Q2DEF-3>APRS", "Q1ABC", "APRS", ""},
      {"Q1ABC>Q2DEF>::Q0DEMO-9 :hi", "Q1ABC>Q2DEF>", "Q1ABC", "", ""},
      // No ">" at all: the source is empty, the header is destination and path.
      {"APRS,WIDE1-1::Q0DEMO-9 :hi", "APRS,WIDE1-1", "", "APRS", "WIDE1-1"},
      {"Q2DEF-4::Q0DEMO-9 :hi", "Q2DEF-4", "", "Q2DEF-4", ""},
      {"Q1ABC>::Q0DEMO-9 :hi", "Q1ABC>", "Q1ABC", "", ""},
      {"Q1ABC>apdw16::Q0DEMO-9 :hi", "Q1ABC>apdw16", "Q1ABC", "APDW-16", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.in);
    const auto p = Parse(c.in);
    EXPECT_TRUE(p->Selected);
    EXPECT_EQ(p->Header, c.header);
    EXPECT_EQ(p->Source.FullCall, c.source);
    EXPECT_EQ(p->Destination.FullCall, c.destination);
    EXPECT_EQ(p->Destination.Valid, c.destination[0] != '\0');
    EXPECT_EQ(p->Path, c.path);
    EXPECT_EQ(p->Addressee, "Q0DEMO-9");
  }
}

TEST(ParseAprsPacket, AddresseeTextAndNumber) {
  const std::string longId(300, 'x');
  struct Case {
    std::string body;
    const char* addressee;
    const char* text;
    std::string id;
  } cases[] = {
      {"Q0DEMO-9 :hello", "Q0DEMO-9", "hello", ""},
      {"Q0DEMO-9  hello", "Q0DEMO-9", "hello", ""},         // the separator's value is not tested
      {"Q0DEMO:hello there", "Q0DEMO:he", "lo there", ""},  // not padded: cut at 9 all the same
      {"Q0DEMO-9 ", "Q0DEMO-9", "", ""},                    // body shorter than 10
      {"Q0DEMO-9 :", "Q0DEMO-9", "", ""},
      {"Q0", "Q0", "", ""},
      {"", "", "", ""},
      {"         :hi", "", "hi", ""},
      {"Q0DEMO-9 :  spaced  {  7  ", "Q0DEMO-9", "  spaced  ", "7"},
      {"Q0DEMO-9 :a{1{2", "Q0DEMO-9", "a", "1{2"},  // the first "{" counts, the second stays
      {"Q0DEMO-9 :{", "Q0DEMO-9", "", ""},
      {"Q0DEMO-9 :x{" + longId, "Q0DEMO-9", "x", std::string(255, 'x')},
      // Cut to 255 before trimming: the blanks inside the first 255 are then trimmed away...
      {"Q0DEMO-9 :x{" + std::string(250, 'a') + std::string(10, ' ') + "zz", "Q0DEMO-9", "x",
       std::string(250, 'a')},
      // ...and a leading blank costs one of the 255.
      {"Q0DEMO-9 :x{ " + std::string(260, 'b'), "Q0DEMO-9", "x", std::string(254, 'b')},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.body.substr(0, 40));
    const auto p = Parse("Q1ABC>APRS::" + c.body);
    EXPECT_TRUE(p->Selected);
    EXPECT_EQ(p->Body, c.body);
    EXPECT_EQ(p->Addressee, c.addressee);
    EXPECT_EQ(p->MessageText, c.text);
    EXPECT_EQ(p->MessageId, c.id);
  }
}

TEST(ParseAprsPacket, AcksAndRejectsAreUnusable) {
  struct Case {
    const char* text;
    bool usable;
  } cases[] = {
      {"ack12", false},     {"ACK1", false}, {"REJ7", false},  {"rej7", false}, {"AcK0{3", false},
      {"ack1 tail", false}, {"ACK", true},   {"ack", true},    {"ACK ", true},  {"ackABC", true},
      {"Rejoice", true},    {"REJ-7", true}, {"ACKS 5", true}, {" ack1", true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    const std::string body = std::string("Q0DEMO-9 :") + c.text;
    const auto p = Parse("Q1ABC-1>APRS,WIDE1-1::" + body);
    EXPECT_EQ(p->Selected, c.usable);
    if (c.usable) {
      EXPECT_EQ(p->Kind, mkPersonal);
      continue;
    }
    // Stopped after the addressee: what came before is filled, the rest untouched.
    EXPECT_EQ(p->Header, "Q1ABC-1>APRS,WIDE1-1");
    EXPECT_EQ(p->Body, body);
    EXPECT_EQ(p->Source.FullCall, "Q1ABC-1");
    EXPECT_EQ(p->Destination.FullCall, "APRS");
    EXPECT_EQ(p->Path, "WIDE1-1");
    EXPECT_EQ(p->Addressee, "Q0DEMO-9");
    EXPECT_EQ(p->Kind, mkNone);
    EXPECT_EQ(p->MessageText, "");
    EXPECT_EQ(p->MessageId, "");
    EXPECT_EQ(p->State, "");
  }
}

TEST(ParseAprsPacket, KindFromAddressee) {
  struct Case {
    const char* field;  // the 9-character addressee field
    TAprsMsgKind kind;
    const char* addressee;
  } cases[] = {
      {"BLN1     ", mkBulletin, "BLN1"},
      {"BLN9WX   ", mkBulletin, "BLN9WX"},
      {"bln3     ", mkBulletin, "bln3"},
      {"BLNA     ", mkAnnouncement, "BLNA"},
      {"blnx     ", mkAnnouncement, "blnx"},
      {"BLNz     ", mkAnnouncement, "BLNz"},
      {"BLN      ", mkPersonal, "BLN"},
      {"BLN_     ", mkPersonal, "BLN_"},
      {"BLN-1    ", mkPersonal, "BLN-1"},
      {"BLN\xC4     ", mkPersonal, "BLN\xC4"},  // not one of the program's letters
      {"NWS-WARN ", mkNwsAlert, "NWS-WARN"},
      {"NWS_WARN ", mkNwsAlert, "NWS-WARN"},  // stored with "-"
      {"nws-warn ", mkNwsAlert, "nws-warn"},  // keeps its lower case
      {"nws_warn ", mkNwsAlert, "nws-warn"},
      {"NWS-     ", mkNwsAlert, "NWS-"},
      {"NWS      ", mkPersonal, "NWS"},
      {"NWSWARN  ", mkPersonal, "NWSWARN"},
      {"Q0DEMO-9 ", mkPersonal, "Q0DEMO-9"},
      {" BLN1    ", mkBulletin, "BLN1"},  // judged on the field as trimmed
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.field);
    const auto p = Parse(std::string("Q1ABC>APRS::") + c.field + ":text");
    EXPECT_TRUE(p->Selected);
    EXPECT_EQ(p->Kind, c.kind);
    EXPECT_EQ(p->Addressee, c.addressee);
    EXPECT_EQ(p->MessageText, "text");
  }
}

TEST(ParseAprsPacket, NwsStateCode) {
  struct Case {
    const char* field;
    const char* text;
    const char* state;
  } cases[] = {
      {"NWS-WARN ", "Severe Thunderstorm Warning,Until 1530,OK,Oklahoma County{12345", "OK"},
      {"NWS_WATCH", "Tornado Watch,Until 2100,KSX,Sedgwick", "KS"},
      {"NWS-ADVIS", "Wind Advisory,until 6pm,T", "T"},  // one character after the second ","
      {"NWS-WARN ", "Flood Warning,until 6pm,", ""},    // ends right after it
      {"NWS-WARN ", "Flood Warning,until 6pm", ""},     // one ","
      {"NWS-WARN ", "Flood Warning", ""},
      {"NWS-WARN ", ",,TX", "TX"},
      {"NWS-WARN ", "a,b,{TX", ""},  // the number is cut off first
      {"NWS-WARN ", "a,b,c,d", "c,"},
      {"Q0DEMO-9 ", "a,b,OK", ""},  // only for alerts
      {"BLN1     ", "a,b,OK", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.field) + c.text);
    const auto p = Parse(std::string("Q1ABC>APRS::") + c.field + ":" + c.text);
    EXPECT_TRUE(p->Selected);
    EXPECT_EQ(p->State, c.state);
  }
}

TEST(ParseAprsPacket, RawTextKeptByteForByte) {
  static const char kRaw[] = "Q1ABC>APRS::Q0DEMO-9 :\x01\xFF\t\0end ";
  const std::string s(kRaw, sizeof kRaw - 1);
  const auto p = Parse(s);
  EXPECT_EQ(p->RawText, s);
  EXPECT_EQ(p->MessageText, std::string("\x01\xFF\t\0end ", 8));
}

TEST(ParseAprsPacket, GivenAwayTextParsesLikeAView) {
  for (const char* s : {"Q1ABC-7*>APRS,WIDE1-1::NWS_WARN :a,b,OK{7", "Q1ABC>APRS::Q0DEMO-9 :ack5", "x"}) {
    SCOPED_TRACE(s);
    const auto a = ParseAprsPacket(std::string_view(s), kTick, kUtc);
    const auto b = ParseAprsPacket(std::string(s), kTick, kUtc);
    EXPECT_EQ(b->RawText, a->RawText);
    EXPECT_EQ(b->Header, a->Header);
    EXPECT_EQ(b->Body, a->Body);
    EXPECT_EQ(b->Path, a->Path);
    EXPECT_EQ(b->Source.FullCall, a->Source.FullCall);
    EXPECT_EQ(b->Addressee, a->Addressee);
    EXPECT_EQ(b->State, a->State);
    EXPECT_EQ(b->Selected, a->Selected);
    EXPECT_EQ(b->Kind, a->Kind);
  }
}

TEST(ParseAprsPacket, StampsFromTheClocks) {
  const std::uint32_t before = TickCount32();
  const TDateTime utcBefore = CurrentDateTime(tfUTC);
  const auto p = ParseAprsPacket("Q1ABC>APRS::Q0DEMO-9 :hi");
  const std::uint32_t after = TickCount32();
  const TDateTime utcAfter = CurrentDateTime(tfUTC);
  // Unsigned differences, so a wrap of the counter in between does not matter.
  EXPECT_LE(p->TickCount - before, after - before);
  EXPECT_GE(p->ReceivedUtc, utcBefore);
  EXPECT_LE(p->ReceivedUtc, utcAfter);
  EXPECT_TRUE(p->Selected);
}

}  // namespace
}  // namespace qm
