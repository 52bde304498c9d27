#include "select/DupMessages.h"

#include <gtest/gtest.h>

#include <random>

#include "tests/support/PacketBuilder.h"

namespace qm {
namespace {

using test::MakePacket;

TAprsMsgPacket At(std::uint32_t tick, const std::string& from, const std::string& text) {
  TAprsMsgPacket p = MakePacket(mkPersonal, from, "NOCALL", text, "1");
  p.TickCount = tick;
  return p;
}

// What the packet handler does with a wanted packet: prune, check, record when new.
bool Accept(TDupMessageList& list, const TAprsMsgPacket& p) {
  list.Prune(p.TickCount);
  if (list.IsDuplicate(p)) return false;
  list.Add(p.Source.FullCall, p.TickCount, p.Body);
  return true;
}

struct TRepeatCase {
  const char* what;
  std::uint32_t first;
  std::vector<std::uint32_t> repeats;  // ms after the first copy
  std::vector<bool> accepted;
};

TEST(TDupMessageList, RepeatsFromOneSender) {
  const std::uint32_t nearWrap = 0xFFFFFFFFu - 5000;
  const TRepeatCase cases[] = {
      {"19.9 s later", 1000, {19900}, {false}},
      {"19.999 s later", 1000, {19999}, {false}},
      {"20 s later", 1000, {20000}, {true}},
      {"every 15 s keeps it away",
       1000,
       {15000, 30000, 45000, 60000, 75000},
       {false, false, false, false, false}},
      {"20 s after the last copy", 1000, {15000, 35000}, {false, true}},
      {"across the counter wrap, 19.9 s", nearWrap, {19900}, {false}},
      {"across the counter wrap, 20 s", nearWrap, {20000}, {true}},
      {"every 15 s across the wrap", nearWrap, {15000, 30000, 45000}, {false, false, false}},
  };
  for (const TRepeatCase& c : cases) {
    SCOPED_TRACE(c.what);
    TDupMessageList list;
    ASSERT_TRUE(Accept(list, At(c.first, "NOCALL-5", "hello")));
    for (std::size_t i = 0; i < c.repeats.size(); ++i) {
      SCOPED_TRACE(c.repeats[i]);
      EXPECT_EQ(Accept(list, At(c.first + c.repeats[i], "NOCALL-5", "hello")), c.accepted[i]);
    }
    EXPECT_EQ(list.Count(), 1u);
  }
}

TEST(TDupMessageList, OtherSenderOrOtherBodyIsNoRepeat) {
  TDupMessageList list;
  ASSERT_TRUE(Accept(list, At(0, "NOCALL", "first")));
  EXPECT_TRUE(Accept(list, At(1000, "KB1ABC", "first"))) << "same body, other sender";
  EXPECT_TRUE(Accept(list, At(2000, "NOCALL", "second"))) << "other body, same sender";
  ASSERT_EQ(list.Count(), 3u);
  // Only the sender's first entry is compared: a repeat of the second body is listed again
  // while the first entry lives, and adds yet another entry.
  EXPECT_TRUE(Accept(list, At(3000, "NOCALL", "second")));
  EXPECT_EQ(list.Count(), 4u);
  EXPECT_FALSE(Accept(list, At(4000, "NOCALL", "first")));
  EXPECT_TRUE(Accept(list, At(19000, "NOCALL", "second")));
  EXPECT_EQ(list.Count(), 5u);
  // At 24000 everything but the entry of 19000 is 20 s old; that entry is now the first.
  EXPECT_FALSE(Accept(list, At(24000, "NOCALL", "second")));
  EXPECT_EQ(list.Count(), 1u);
}

// Several sources: the second message's copy from the other source is a repeat too.
TEST(TDupMessageList, EveryEntryIsComparedWhenAsked) {
  TDupMessageList list;
  list.CompareEveryEntry(true);
  ASSERT_TRUE(Accept(list, At(0, "NOCALL", "first")));
  ASSERT_TRUE(Accept(list, At(1000, "NOCALL", "second")));
  EXPECT_FALSE(Accept(list, At(3000, "NOCALL", "second")));
  EXPECT_FALSE(Accept(list, At(4000, "NOCALL", "first")));
  EXPECT_EQ(list.Count(), 2u);
}

TEST(TDupMessageList, LookupIgnoresCaseAndFindsTheFirstEntry) {
  TDupMessageList list;
  list.Add("nocall-5", 10, "one");
  list.Add("NOCALL-5", 20, "two");
  ASSERT_NE(list.Find("NOCALL-5"), nullptr);
  EXPECT_EQ(list.Find("NoCall-5")->Body, "one");
  EXPECT_EQ(list.Find("NOCALL-6"), nullptr);
  EXPECT_TRUE(list.IsDuplicate(At(30, "NOCALL-5", "x")) == false);
  TAprsMsgPacket p = At(40, "NOCALL-5", "x");
  p.Body = "one";
  EXPECT_TRUE(list.IsDuplicate(p));
  EXPECT_EQ(list.Find("nocall-5")->TickCount, 40u) << "the copy restarts the 20 seconds";
}

TEST(TDupMessageList, PruneRemovesByAgeAndKeepsOrder) {
  TDupMessageList list;
  list.Add("A", 1000, "a");
  list.Add("B", 5000, "b");
  list.Add("C", 2000, "c");
  list.Add("D", 30000, "d");  // newer than "now" below: its unsigned age is huge
  list.Prune(21500);
  const auto items = list.Items();
  ASSERT_EQ(items.size(), 2u);
  EXPECT_EQ(items[0].first, "B");
  EXPECT_EQ(items[1].first, "C");
  EXPECT_EQ(items[1].second.TickCount, 2000u);
  list.Prune(21999);
  EXPECT_EQ(list.Count(), 2u) << "2000 is 19999 ms old";
  list.Prune(22000);
  EXPECT_EQ(list.Count(), 1u);
  list.Clear();
  EXPECT_EQ(list.Count(), 0u);
  EXPECT_EQ(list.Find("B"), nullptr);
}

// A plain list with the same rules, to check the indexed one against.
class TReferenceList {
 public:
  void Prune(std::uint32_t now) {
    for (std::size_t i = FItems.size(); i-- > 0;) {
      if (static_cast<std::uint32_t>(now - FItems[i].second.TickCount) >= 20000)
        FItems.erase(FItems.begin() + i);
    }
  }
  bool IsDuplicate(const TAprsMsgPacket& p) {
    for (auto& [key, message] : FItems) {
      if (UpperCase(key) == UpperCase(p.Source.FullCall)) {
        if (message.Body != p.Body) return false;
        message.TickCount = p.TickCount;
        return true;
      }
    }
    return false;
  }
  void Add(const std::string& key, std::uint32_t tick, const std::string& body) {
    FItems.push_back({key, TDupMessage{tick, body}});
  }
  std::vector<std::pair<std::string, TDupMessage>> FItems;
};

TEST(TDupMessageList, MatchesAPlainListOverRandomTraffic) {
  std::mt19937 random(12345);
  const char* calls[] = {"NOCALL", "nocall", "KB1ABC", "W1AW-5", "w1aw-5", "N0XYZ-15"};
  for (std::uint32_t start : {0u, 0xFFFFFFFFu - 30000u, 0x7FFFFFF0u}) {
    SCOPED_TRACE(start);
    TDupMessageList list;
    TReferenceList reference;
    std::uint32_t now = start;
    for (int step = 0; step < 3000; ++step) {
      now += random() % 4000;
      // Packets may carry ticks a little behind or ahead of the prune time.
      const std::uint32_t tick = now - 3000 + random() % 6000;
      TAprsMsgPacket p = At(tick, calls[random() % 6], std::string(1, static_cast<char>('a' + random() % 3)));
      list.Prune(now);
      reference.Prune(now);
      const bool duplicate = list.IsDuplicate(p);
      ASSERT_EQ(duplicate, reference.IsDuplicate(p)) << "step " << step;
      if (!duplicate) {
        list.Add(p.Source.FullCall, p.TickCount, p.Body);
        reference.Add(p.Source.FullCall, p.TickCount, p.Body);
      }
      const auto items = list.Items();
      ASSERT_EQ(items.size(), reference.FItems.size()) << "step " << step;
      for (std::size_t i = 0; i < items.size(); ++i) {
        ASSERT_EQ(items[i].first, reference.FItems[i].first);
        ASSERT_EQ(items[i].second.TickCount, reference.FItems[i].second.TickCount);
        ASSERT_EQ(items[i].second.Body, reference.FItems[i].second.Body);
      }
    }
  }
}

}  // namespace
}  // namespace qm
