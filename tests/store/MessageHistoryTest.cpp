// The history window's questions to the store: which kept messages a filter lets through.
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "store/MessageStore.h"
#include "tests/support/OlderStore.h"
#include "tests/support/StoredMessages.h"
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

void AddKept(TMessageStore& store) {
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
}

TEST(TMessageStoreHistory, FiltersAnswerNewestFirst) {
  test::TTempDir dir;
  TMessageStore store(dir.File("history.db"));
  AddKept(store);
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

// A period's messages for the communications log: from its first instant up to, not
// including, its end, oldest first (by id at the same time), the addressee without its blanks;
// what the store keeps after the reader opened is in the next answer.
TEST(TMessageStoreHistory, ReceivedBetweenHoldsThePeriodsEdges) {
  test::TTempDir dir;
  TMessageStore store(dir.File("m.db"));
  const double from = 46000.25;  // 06:00
  const double to = 46000.5;     // 12:00
  const double second = 1.0 / 86400;
  for (const auto& [n, utc] : {std::pair{1, from - second}, std::pair{2, to - second}, std::pair{3, from},
                               std::pair{4, to}, std::pair{5, from}})
    store.Add(test::Msg(n, utc));
  THistoryReader reader(store.Path());
  std::vector<std::string> texts;
  for (const TLogRow& row : reader.ReceivedBetween(from, to)) {
    EXPECT_EQ(row.To, "NOCALL-9");
    EXPECT_FALSE(row.Outgoing);
    texts.push_back(row.From + " " + row.Text);
  }
  EXPECT_EQ(texts, (std::vector<std::string>{"KB1AB-3 message 3", "KB1AB-5 message 5", "KB1AB-2 message 2"}));
  TStoredMessage spaced = test::Msg(6, from + second);
  spaced.Addressee = "W1AW     ";
  store.Add(spaced);
  const std::vector<TLogRow> rows = reader.ReceivedBetween(from, to);
  ASSERT_EQ(rows.size(), 4U);
  EXPECT_EQ(rows[2].To, "W1AW");
  EXPECT_TRUE(reader.ReceivedBetween(to, to).empty());
}

// A store of an older build gets its text index at once and fills it in steps; a text search
// gives the same answer all along, by reading every message until the index holds them all
// and through the index after, with what changed meanwhile.
TEST(TMessageStoreHistory, TextIndexOfAnOlderStoreFilledInStepsAnswersAsTheScan) {
  test::TTempDir dir;
  const std::string path = dir.File("older.db");
  {
    TMessageStore store(path);
    AddKept(store);
  }
  test::DropTextIndex(path);
  test::RunOnStoreFile(path, "UPDATE messages SET utc_time = -1, print_state = 3 WHERE id = 2");
  TMessageStore store(path);
  // Meanwhile: new messages (one purged again), a full text for an earlier one, an earlier one purged.
  TStoredMessage m;
  m.MessageText = "Hamfest: go via gate 9, via the gate, caf\xE9 open";
  store.Add(m);  // 11
  m.MessageText = "hamfest moved";
  m.UtcTime = -1;
  store.ClearListed(store.Add(m));  // 12
  store.SetFullText(8, "Gusts to 60 in the VALLEY");
  EXPECT_EQ(store.Purge(-0.5), 2);

  const TFilterCase cases[] = {
      {"any case", {"", hkAll, "HAMFEST"}, {11, 3, 1}},
      {"full text added later", {"", hkAll, "the valley"}, {8}},
      {"full text added at once", {"", hkAll, "Cover now"}, {6}},
      {"in a purged message only", {"", hkAll, "wind_adv"}, {}},
      {"percent is literal", {"", hkAll, "and 100%"}, {9}},
      {"underscore is literal", {"", hkAll, "hamfest_"}, {}},
      {"every trigram there, not in a row", {"", hkAll, "te 9, via gate"}, {}},
      {"with call and kind", {"kb1ab*", hkPersonal, "fest"}, {3, 1}},
      {"two characters", {"", hkAll, "gu"}, {8}},
      {"past ASCII, asked by the rest", {"", hkAll, "CAF\xE9"}, {11}},
      {"past ASCII only: read in full", {"", hkAll, "\xE9 o"}, {11}},
  };
  const auto check = [&](const char* when) {
    SCOPED_TRACE(when);
    THistoryReader reader(path);
    for (const TFilterCase& c : cases) {
      SCOPED_TRACE(c.What);
      EXPECT_EQ(store.FindMessages(c.Filter), c.Ids);
      EXPECT_EQ(reader.FindMessages(c.Filter, 1),
                std::vector<std::int64_t>(c.Ids.begin(), c.Ids.begin() + (c.Ids.empty() ? 0 : 1)));
    }
  };
  check("before any step");
  int steps = 1;
  while (!store.FillTextIndex(3)) {
    check("after a step");
    ++steps;
  }
  EXPECT_EQ(steps, 3);  // 9 earlier messages kept, 3 a step
  check("with the index full");
  EXPECT_EQ(store.IndexNewText(), 1u);  // 11 (12 was purged)
  check("with the new messages in it");
  // FTS5's own check: the index holds exactly what the messages hold.
  EXPECT_NO_THROW(test::RunOnStoreFile(
      path, "INSERT INTO messages_text(messages_text, rank) VALUES ('integrity-check', 1)"));
  // The index gave those answers: emptied, it finds nothing; a short text is still read in full.
  test::RunOnStoreFile(path, "INSERT INTO messages_text(messages_text) VALUES ('delete-all')");
  EXPECT_EQ(store.FindMessages({"", hkAll, "hamfest"}), std::vector<std::int64_t>{});
  EXPECT_EQ(store.FindMessages({"", hkAll, "gu"}), std::vector<std::int64_t>{8});
}

// New messages join the text index a batch at a time; until their batch a text search checks
// each of them too, so it finds every kept message, on the store's connection and a reader's.
TEST(TMessageStoreHistory, MessagesWaitingForTheTextIndexAreFound) {
  test::TTempDir dir;
  const std::string path = dir.File("batches.db");
  TMessageStore store(path);
  THistoryReader reader(path);
  const auto indexed = [&] {
    return test::QueryStoreFile(path, "SELECT count(*) FROM messages_text WHERE messages_text MATCH 'ess'");
  };
  const auto found = [&](const std::string& text) {
    std::vector<std::int64_t> ids = store.FindMessages({"", hkAll, text});
    EXPECT_EQ(reader.FindMessages({"", hkAll, text}), ids) << text;
    return ids;
  };
  const auto batch = static_cast<int>(TMessageStore::kTextIndexBatch);
  for (int n = 1; n < batch; ++n) store.Add(test::Msg(n));
  EXPECT_EQ(indexed(), 0);
  const std::string last = "MESSAGE " + std::to_string(batch - 1);  // no other text holds it
  EXPECT_EQ(found(last), std::vector<std::int64_t>{batch - 1});
  store.Add(test::Msg(batch));
  EXPECT_EQ(indexed(), batch);
  EXPECT_EQ(found(last), std::vector<std::int64_t>{batch - 1});
  // A full text that comes later, for a message in the index and for one still waiting.
  store.SetFullText(batch, "Gusts to 60 in the valley");
  const std::int64_t waiting = store.Add(test::Msg(batch + 1));
  store.SetFullText(waiting, "Hail in the hills");
  EXPECT_EQ(found("the valley"), std::vector<std::int64_t>{batch});
  EXPECT_EQ(found("hail in"), std::vector<std::int64_t>{waiting});
  EXPECT_EQ(store.IndexNewText(), 1u);
  EXPECT_EQ(found("hail in"), std::vector<std::int64_t>{waiting});
  EXPECT_EQ(indexed(), batch + 1);
  EXPECT_NO_THROW(test::RunOnStoreFile(
      path, "INSERT INTO messages_text(messages_text, rank) VALUES ('integrity-check', 1)"));
}

// Earlier builds kept the index by a trigger on every insert, with the messages still to add
// marked in text_index_fill: a store they left is taken over as it stands.
TEST(TMessageStoreHistory, AnIndexKeptByATriggerPerInsertIsTakenOver) {
  test::TTempDir dir;
  const std::string path = dir.File("per-row.db");
  { TMessageStore(path).Add(test::Msg(1)); }
  test::DropTextIndex(path);
  test::RunOnStoreFile(path, R"sql(
CREATE VIRTUAL TABLE messages_text USING fts5(message_text, full_text, content='messages',
  content_rowid='id', tokenize='trigram', detail=none, columnsize=0);
CREATE TABLE text_index_fill(below INTEGER NOT NULL);
INSERT INTO text_index_fill SELECT coalesce(max(id), 0) FROM messages;
CREATE TRIGGER messages_text_insert AFTER INSERT ON messages BEGIN
  INSERT INTO messages_text(rowid, message_text, full_text) VALUES (new.id, new.message_text, new.full_text);
END;
CREATE TRIGGER messages_text_update AFTER UPDATE OF message_text, full_text ON messages
WHEN old.id > (SELECT below FROM text_index_fill) BEGIN
  INSERT INTO messages_text(messages_text, rowid, message_text, full_text)
    VALUES ('delete', old.id, old.message_text, old.full_text);
  INSERT INTO messages_text(rowid, message_text, full_text) VALUES (new.id, new.message_text, new.full_text);
END;
CREATE TRIGGER messages_text_delete AFTER DELETE ON messages
WHEN old.id > (SELECT below FROM text_index_fill) BEGIN
  INSERT INTO messages_text(messages_text, rowid, message_text, full_text)
    VALUES ('delete', old.id, old.message_text, old.full_text);
END;
INSERT INTO messages(local_time, utc_time, source, destination, path, addressee, message_text, message_no, kind,
  state_code, raw_text, line1, line2, line3) VALUES (1, 1, 'KB1AB', 'APRS', '', 'NOCALL', 'message 2', '', 1,
  '', '', '', '', '');
)sql");
  TMessageStore store(path);
  store.SetFullText(2, "Hail in the hills");  // indexed by the earlier build: its old text goes
  const std::int64_t added = store.Add(test::Msg(3));
  EXPECT_EQ(store.FindMessages({"", hkAll, "hail in"}), std::vector<std::int64_t>{2});
  EXPECT_EQ(store.FindMessages({"", hkAll, "message 3"}), std::vector<std::int64_t>{added});
  EXPECT_TRUE(store.FillTextIndex(10));  // message 1
  EXPECT_EQ(store.IndexNewText(), 1u);   // message 3; 2 was in the index already
  EXPECT_EQ(store.FindMessages({"", hkAll, "message"}),
            (std::vector<std::int64_t>{3, 1, 2}));  // 2 the oldest
  EXPECT_EQ(test::QueryStoreFile(path,
                                 "SELECT count(*) FROM sqlite_schema WHERE name LIKE 'text_index_fill' OR "
                                 "name LIKE 'messages_text_insert'"),
            0);
  EXPECT_NO_THROW(test::RunOnStoreFile(
      path, "INSERT INTO messages_text(messages_text, rank) VALUES ('integrity-check', 1)"));
}

// A text index whose pages were damaged would fail every new message through its triggers:
// the next open leaves it behind, messages are kept and a text is searched by reading them.
TEST(TMessageStoreHistory, DamagedTextIndexIsLeftAndMessagesAreStillKept) {
  test::TTempDir dir;
  const std::string path = dir.File("damaged.db");
  { TMessageStore(path).Add(test::Msg(1)); }
  test::RunOnStoreFile(path, "UPDATE messages_text_data SET block = x'0102030405' WHERE id = 10");
  for (int open = 0; open < 2; ++open) {
    TMessageStore store(path);
    const std::int64_t id = store.Add(test::Msg(2 + open));
    EXPECT_EQ(store.FindMessages({"", hkAll, "message " + std::to_string(2 + open)}),
              std::vector<std::int64_t>{id});
    EXPECT_TRUE(store.FillTextIndex(1));
  }
}

}  // namespace
}  // namespace qm
