// The bulletin board as the store reads it from the kept copies.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "store/MessageStore.h"
#include "tests/support/TempDir.h"

namespace qm {
namespace {

constexpr double kHour = 1.0 / 24;
constexpr double kNow = 46000.5;  // a day count, noon

std::int64_t Keep(TMessageStore& store, const char* from, const char* line, int kind, const char* text,
                  double hoursAgo) {
  TStoredMessage m;
  m.Source = from;
  m.Addressee = line;
  m.Kind = kind;
  m.MessageText = text;
  m.UtcTime = kNow - hoursAgo * kHour;
  return store.Add(m);
}

std::vector<std::string> Lines(const TMessageStore& store, double now = kNow) {
  std::vector<std::string> lines;
  for (const TBulletinLine& l : store.BulletinBoard(now, {}))
    lines.push_back(l.From + " " + l.LineId + " " + l.Text);
  return lines;
}

TEST(BulletinBoard, NewestCopyOfALineStandsUntilItAgesOut) {
  test::TTempDir dir;
  TMessageStore store(dir.File("board.db"));
  Keep(store, "N0SRC", "BLN1     ", kStoredBulletin, "Net tonight at 8", 3);
  const std::int64_t newer = Keep(store, "n0src", "BLN1", kStoredBulletin, "Net moved to 9", 1);
  Keep(store, "N0SRC", "BLN1WX", kStoredBulletin, "Hail reported", 5);  // older than 4 h
  Keep(store, "K1ABC", "BLN2", kStoredBulletin, "Repeater down", 2);
  Keep(store, "N0SRC", "BLNA", kStoredAnnouncement, "Swapfest Saturday", 90);
  Keep(store, "N0SRC", "BLNB", kStoredAnnouncement, "Field day", 100);  // older than 4 days
  Keep(store, "N0SRC", "NOCALL", kStoredPersonal, "Not a bulletin", 1);

  EXPECT_EQ(Lines(store), (std::vector<std::string>{"K1ABC BLN2 Repeater down", "n0src BLN1 Net moved to 9",
                                                    "N0SRC BLNA Swapfest Saturday"}));
  EXPECT_EQ(store.BulletinBoard(kNow, {})[1].Id, newer);
  // Ages set otherwise: the group bulletin of 5 h is still up, the announcement of 90 h gone.
  EXPECT_EQ(store.BulletinBoard(kNow, {.BulletinHours = 6, .AnnouncementHours = 48}).size(), 3u);
  EXPECT_EQ(Lines(store, kNow + 4 * kHour), std::vector<std::string>{"N0SRC BLNA Swapfest Saturday"});
}

TEST(BulletinBoard, AClearedLineStaysOffUntilItsTextChanges) {
  test::TTempDir dir;
  const std::string file = dir.File("board.db");
  {
    TMessageStore store(file);
    Keep(store, "N0SRC", "BLN1", kStoredBulletin, "Net tonight at 8", 2);
    Keep(store, "N0SRC", "BLN3", kStoredBulletin, "Bring a radio", 2);
    EXPECT_EQ(store.ClearBulletin("n0src", "bln1 ", kNow, {}), 1);
    EXPECT_EQ(store.ClearBulletin("N0SRC", "BLN9", kNow, {}), 0);
  }
  TMessageStore store(file);  // the mark is kept
  EXPECT_EQ(Lines(store), std::vector<std::string>{"N0SRC BLN3 Bring a radio"});
  Keep(store, "N0SRC", "BLN1", kStoredBulletin, "Net tonight at 8", 1);  // the sender repeats it
  EXPECT_EQ(Lines(store), std::vector<std::string>{"N0SRC BLN3 Bring a radio"});
  Keep(store, "N0SRC", "BLN1", kStoredBulletin, "Net cancelled", 0);
  EXPECT_EQ(Lines(store), (std::vector<std::string>{"N0SRC BLN1 Net cancelled", "N0SRC BLN3 Bring a radio"}));
}

}  // namespace
}  // namespace qm
