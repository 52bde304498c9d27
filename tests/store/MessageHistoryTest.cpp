// The history window's questions to the store: which kept messages a filter lets through.
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "store/MessageStore.h"
#include "tests/support/TempDir.h"

namespace qm {
namespace {

struct TKept {
  const char* Source;
  const char* Addressee;
  int Kind;  // as the window stores TAprsMsgKind
  const char* Text;
  const char* FullText;  // nullptr: none fetched
};

// Added in this order, so ids 1..10; the store answers newest first.
const TKept kKept[] = {
    {"KB1AB-7", "NOCALL-9 ", 1, "Meet at the hamfest", nullptr},                     // 1
    {"kb1ab", "VE3XYZ", 1, "50% off; wind_advisory", nullptr},                       // 2
    {"VE3ABC-1", "KB1AB-7", 1, "Reply to the hamfest note", nullptr},                // 3
    {"N0CALL-5", "BLN1     ", 2, "Net tonight at 2000", nullptr},                    // 4
    {"N0CALL-5", "BLNQ", 3, "Swapfest Saturday", nullptr},                           // 5
    {"WXSVR", "NWS-WARN ", 4, "TORNADO WARNING", "TAKE COVER NOW in the basement"},  // 6
    {"WXSVR", "NWS-WATCH", 4, "Severe thunderstorm watch", ""},                      // 7
    {"WXSVR", "NWS-ADVIS", 4, "Wind advisory", nullptr},                             // 8
    {"KB1ABC", "W1AW", 1, "net\\path and 100%", nullptr},                            // 9
    {"W1AW", "KB1ABC-12", 1, "Tornado drill at noon", nullptr},                      // 10
};

struct TFilterCase {
  const char* What;
  THistoryFilter Filter;
  std::vector<std::int64_t> Ids;
};

TEST(TMessageStoreHistory, FiltersAnswerNewestFirst) {
  test::TTempDir dir;
  TMessageStore store(dir.File("history.db"));
  for (const TKept& k : kKept) {
    TStoredMessage m;
    m.Source = k.Source;
    m.Addressee = k.Addressee;
    m.Kind = k.Kind;
    m.MessageText = k.Text;
    m.FullTextWanted = k.FullText != nullptr;
    m.FullText = k.FullText ? k.FullText : "";
    store.Add(m);
  }
  const TFilterCase cases[] = {
      {"no filter: everything", {}, {10, 9, 8, 7, 6, 5, 4, 3, 2, 1}},
      {"exact call, either side, any case, SSID counts", {"kb1ab-7", hkAll, ""}, {3, 1}},
      {"exact call without SSID is not a prefix", {"KB1AB", hkAll, ""}, {2}},
      {"trailing star: the start of sender or addressee", {"KB1AB*", hkAll, ""}, {10, 9, 3, 2, 1}},
      {"star after the dash: that call's SSIDs only", {"KB1AB-*", hkAll, ""}, {3, 1}},
      {"blanks around the call are ignored", {"  w1aw ", hkAll, ""}, {10, 9}},
      {"a padded addressee matches", {"NOCALL-9", hkAll, ""}, {1}},
      {"no such call", {"K9ZZZ", hkAll, ""}, {}},
      {"personal", {"", hkPersonal, ""}, {10, 9, 3, 2, 1}},
      {"bulletin", {"", hkBulletin, ""}, {4}},
      {"announcement", {"", hkAnnouncement, ""}, {5}},
      {"NWS watch", {"", hkNwsWatch, ""}, {7}},
      {"NWS warning (padded addressee)", {"", hkNwsWarning, ""}, {6}},
      {"NWS advisory", {"", hkNwsAdvisory, ""}, {8}},
      {"text in any case", {"", hkAll, "HAMFEST"}, {3, 1}},
      {"text found in a fetched full text", {"", hkAll, "basement"}, {6}},
      {"text in message or full text", {"", hkAll, "tornado"}, {10, 6}},
      {"percent is literal", {"", hkAll, "100%"}, {9}},
      {"percent alone is not a wildcard", {"", hkAll, "%"}, {9, 2}},
      {"underscore is literal", {"", hkAll, "d_a"}, {2}},
      {"backslash is literal", {"", hkAll, "net\\p"}, {9}},
      {"all three together", {"KB1AB*", hkPersonal, "hamfest"}, {3, 1}},
      {"kind and call that never meet", {"WXSVR", hkBulletin, ""}, {}},
  };
  // The same answers through a reader of its own, also for the newest few only.
  THistoryReader reader(store.Path());
  for (const TFilterCase& c : cases) {
    SCOPED_TRACE(c.What);
    EXPECT_EQ(store.FindMessages(c.Filter), c.Ids);
    EXPECT_EQ(reader.FindMessages(c.Filter), c.Ids);
    const std::vector<std::int64_t> newest(c.Ids.begin(),
                                           c.Ids.begin() + std::min<std::size_t>(c.Ids.size(), 2));
    EXPECT_EQ(reader.FindMessages(c.Filter, 2), newest);
  }
  // What the store keeps after the reader opened is there at its next question.
  store.Add({});
  EXPECT_EQ(reader.FindMessages({}, 1), std::vector<std::int64_t>{11});
  // A question told to stop ends in a failure rather than an answer.
  reader.StopWhen([] { return true; });
  EXPECT_THROW(reader.FindMessages({"", hkAll, "hamfest"}), EMessageStoreError);
}

}  // namespace
}  // namespace qm
