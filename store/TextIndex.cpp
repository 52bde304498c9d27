#include "store/TextIndex.h"

#include <algorithm>

#include "base/AsciiText.h"
#include "store/SqliteKit.h"
#include "store/StoreStatements.h"

namespace qm {
namespace sql {
namespace {

// The text index of the history's text filter: every three characters of the message text
// and the full text (FTS5's trigram tokenizer, ASCII case folded), the texts themselves left
// in the messages table. detail=none keeps only which message holds a trigram, not where:
// the search asks for each trigram of the text and checks every message found with the
// filter's own LIKE.
// text_index_mark says which messages it holds: those with ids in (below, upto]. A new message
// (past upto) is added with the others that came since, in one statement once there are
// kTextIndexBatch of them (TMessageStore::IndexNewText): a row a commit costs the index a
// segment of its own and the merges that follow, a batch one for all. The messages a store
// held before the index existed (ids up to below) are added a few at a time, the newest first
// (TMessageStore::FillTextIndex), and until then the search reads every message. The triggers
// keep what the index holds in step with a change of either text (a full text arrives later)
// and with the purge; a message not yet added is left to its batch. Older builds run them too.
constexpr const char* kTextIndexTable = R"sql(
CREATE VIRTUAL TABLE messages_text USING fts5(message_text, full_text, content='messages',
  content_rowid='id', tokenize='trigram', detail=none, columnsize=0);
)sql";
constexpr const char* kTextIndexTriggers = R"sql(
CREATE TRIGGER messages_text_changed AFTER UPDATE OF message_text, full_text ON messages
WHEN old.id > (SELECT below FROM text_index_mark) AND old.id <= (SELECT upto FROM text_index_mark) BEGIN
  INSERT INTO messages_text(messages_text, rowid, message_text, full_text)
    VALUES ('delete', old.id, old.message_text, old.full_text);
  INSERT INTO messages_text(rowid, message_text, full_text) VALUES (new.id, new.message_text, new.full_text);
END;
CREATE TRIGGER messages_text_deleted AFTER DELETE ON messages
WHEN old.id > (SELECT below FROM text_index_mark) AND old.id <= (SELECT upto FROM text_index_mark) BEGIN
  INSERT INTO messages_text(messages_text, rowid, message_text, full_text)
    VALUES ('delete', old.id, old.message_text, old.full_text);
END;
)sql";
// A new index holds nothing: what the store holds is added from the newest down.
constexpr const char* kTextIndexMark = R"sql(
CREATE TABLE text_index_mark(below INTEGER NOT NULL, upto INTEGER NOT NULL);
INSERT INTO text_index_mark SELECT coalesce(max(id), 0), coalesce(max(id), 0) FROM messages;
)sql";
// The builds before the batches kept the index by a trigger on every insert and marked the
// older messages still to add in text_index_fill: the index then holds every message past
// that mark.
constexpr const char* kFromTriggerPerRow = R"sql(
DROP TRIGGER IF EXISTS messages_text_insert;
DROP TRIGGER IF EXISTS messages_text_update;
DROP TRIGGER IF EXISTS messages_text_delete;
DROP TABLE IF EXISTS text_index_mark;
DROP TRIGGER IF EXISTS messages_text_changed;
DROP TRIGGER IF EXISTS messages_text_deleted;
CREATE TABLE text_index_mark(below INTEGER NOT NULL, upto INTEGER NOT NULL);
INSERT INTO text_index_mark SELECT below, max(below, (SELECT coalesce(max(id), 0) FROM messages))
  FROM text_index_fill;
DROP TABLE text_index_fill;
)sql";
constexpr const char* kStopTextIndex = R"sql(
DROP TRIGGER IF EXISTS messages_text_insert;
DROP TRIGGER IF EXISTS messages_text_update;
DROP TRIGGER IF EXISTS messages_text_delete;
DROP TRIGGER IF EXISTS messages_text_changed;
DROP TRIGGER IF EXISTS messages_text_deleted;
DROP TABLE IF EXISTS text_index_fill;
DROP TABLE IF EXISTS text_index_mark;
)sql";

// Candidates the text index may name before a search reads every message instead: looking
// one up and checking its texts costs up to 10 microseconds (a long full text), a pass through
// a million messages 0.4 s. The newest few are found early in that pass when the text is
// common (from 2,000 in a million on, 100,000 messages read at most), so fewer.
constexpr std::size_t kMostCandidates = 20000;
constexpr std::size_t kMostCandidatesForNewest = 2000;

}  // namespace

bool HasTextIndex(sqlite3* db, const std::string& path) {
  return HasTable(db, path, "text_index_mark");
}

bool TextIndexComplete(sqlite3* db) {
  sqlite3_stmt* stmt = nullptr;
  if (sqlite3_prepare_v2(db, "SELECT below FROM text_index_mark", -1, &stmt, nullptr) != SQLITE_OK)
    return false;
  const bool complete = sqlite3_step(stmt) == SQLITE_ROW && sqlite3_column_int64(stmt, 0) == 0;
  sqlite3_finalize(stmt);
  return complete;
}

std::size_t TextNotIndexed(sqlite3* db, const std::string& path) {
  if (!HasTextIndex(db, path)) return 0;
  // From the id sequence: the messages themselves are not read at open.
  const std::int64_t past =
      QueryInt(db, path,
               "SELECT coalesce((SELECT seq FROM sqlite_sequence WHERE name = 'messages'), 0) "
               "- (SELECT upto FROM text_index_mark)");
  return past > 0 ? static_cast<std::size_t>(past) : 0;
}

void MakeTextIndex(sqlite3* db, const std::string& path) {
  const bool perRow = HasTable(db, path, "text_index_fill");
  if (!perRow && HasTextIndex(db, path)) return;
  Exec(db, path, "SAVEPOINT text_index");
  const std::string make = perRow ? std::string(kFromTriggerPerRow) + kTextIndexTriggers
                                  : std::string(kTextIndexTable) + kTextIndexMark + kTextIndexTriggers;
  if (sqlite3_exec(db, make.c_str(), nullptr, nullptr, nullptr) != SQLITE_OK) {
    const int code = sqlite3_extended_errcode(db);
    const std::string reason = sqlite3_errmsg(db);
    sqlite3_exec(db, "ROLLBACK TO text_index", nullptr, nullptr, nullptr);
    if (code != SQLITE_ERROR) throw EMessageStoreError(StoreError(path, reason), KindOfCode(code));
  }
  Exec(db, path, "RELEASE text_index");
}

void LeaveUnreadableTextIndex(sqlite3* db, const std::string& path) {
  // A text index that cannot be read (its pages damaged) would fail every change of a text
  // and the purge through its triggers, and every batch: they go, with the mark, and the text
  // is searched as before. The index itself stays (SQLite cannot drop what it cannot open),
  // and is not made again.
  if (HasTextIndex(db, path) &&
      sqlite3_exec(db, "SELECT rowid FROM messages_text WHERE messages_text MATCH '\"qqq\"' LIMIT 1", nullptr,
                   nullptr, nullptr) != SQLITE_OK)
    ExecWriting(db, path, kStopTextIndex);
}

void StopTextIndex(sqlite3* db, const std::string& path) {
  ExecWriting(db, path, kStopTextIndex);
}

void RestartTextIndex(sqlite3* db, const std::string& path) {
  ExecWriting(db, path,
              std::string("INSERT INTO messages_text(messages_text) VALUES ('delete-all');") +
                  kTextIndexMark + kTextIndexTriggers);
}

std::string TrigramQuery(std::string_view text) {
  std::vector<std::string> terms;
  for (std::size_t i = 0; i + 3 <= text.size(); ++i) {
    const std::string_view trigram = text.substr(i, 3);
    if (std::any_of(trigram.begin(), trigram.end(),
                    [](char c) { return c == '\0' || static_cast<unsigned char>(c) >= 0x80; }))
      continue;
    terms.push_back(UpperCase(trigram));  // the index ignores ASCII case too
  }
  std::sort(terms.begin(), terms.end());
  terms.erase(std::unique(terms.begin(), terms.end()), terms.end());
  std::string query;
  for (const std::string& term : terms) {
    query += query.empty() ? "\"" : " AND \"";
    for (const char c : term) query += c == '"' ? std::string("\"\"") : std::string(1, c);
    query += '"';
  }
  return query;
}

std::optional<std::vector<std::int64_t>> FindThroughTextIndex(
    sqlite3* db, const std::string& path, const THistoryFilter& filter, const std::string& conditions,
    const std::vector<std::string>& params, std::size_t limit, const std::function<bool()>& stop) {
  const std::string query = TrigramQuery(filter.Text);
  if (query.empty() || !TextIndexComplete(db)) return std::nullopt;
  const std::size_t most = limit > 0 ? kMostCandidatesForNewest : kMostCandidates;
  std::vector<std::int64_t> candidates;
  {
    TStmt stmt(db, path, "SELECT rowid FROM messages_text WHERE messages_text MATCH ?");
    TUse use(stmt);
    use.Bind(query);
    while (use.Step()) {
      if (candidates.size() == most) return std::nullopt;
      candidates.push_back(use.Int(0));
    }
  }
  {
    // Kept since the last batch, not yet in the index: each is checked as a candidate.
    TStmt stmt(db, path, "SELECT id FROM messages WHERE id > (SELECT upto FROM text_index_mark)");
    TUse use(stmt);
    while (use.Step()) {
      if (candidates.size() == most) return std::nullopt;
      candidates.push_back(use.Int(0));
    }
  }
  // The id is the last parameter, after the filter's own, which stay bound.
  TStmt stmt(db, path, "SELECT utc_time FROM messages WHERE " + conditions + " AND id = ?");
  TUse use(stmt);
  for (const std::string& param : params) use.Bind(param);
  const int idParam = static_cast<int>(params.size()) + 1;
  std::vector<std::pair<double, std::int64_t>> found;
  for (std::size_t i = 0; i < candidates.size(); ++i) {
    if (stop && i % 256 == 0 && stop()) throw EMessageStoreError(StoreError(path, "interrupted"));
    sqlite3_reset(stmt.Get());
    if (sqlite3_bind_int64(stmt.Get(), idParam, candidates[i]) != SQLITE_OK) ThrowSqlite(db, path);
    if (use.Step()) found.emplace_back(use.Real(0), candidates[i]);
  }
  std::sort(found.begin(), found.end(), std::greater<>());
  if (limit > 0 && found.size() > limit) found.resize(limit);
  std::vector<std::int64_t> ids;
  ids.reserve(found.size());
  for (const auto& f : found) ids.push_back(f.second);
  return ids;
}

}  // namespace sql

using namespace sql;

bool TMessageStore::FillTextIndex(std::size_t rows) {
  const std::lock_guard oneAtATime(FUse);
  S();
  if (!HasTextIndex(FDb, FPath) || TextIndexComplete(FDb)) return true;
  TTransaction t(S(), true);
  // Ids up to `below` are left to this; the new `below` is the id before the
  // lowest of the next `rows` kept.
  TStmt next(FDb, FPath,
             "SELECT coalesce((SELECT min(id) FROM (SELECT id FROM messages WHERE id <= f.below "
             "ORDER BY id DESC LIMIT ?1)) - 1, 0), f.below FROM text_index_mark f");
  std::int64_t from = 0, below = 0;
  {
    TUse range(next);
    if (!range.Bind(static_cast<std::int64_t>(rows)).Step()) return true;
    from = range.Int(0);
    below = range.Int(1);
  }
  TStmt add(FDb, FPath,
            "INSERT INTO messages_text(rowid, message_text, full_text) "
            "SELECT id, message_text, full_text FROM messages WHERE id > ?1 AND id <= ?2");
  TUse(add).Bind(from).Bind(below).Run();
  TStmt moved(FDb, FPath, "UPDATE text_index_mark SET below = ?");
  TUse(moved).Bind(from).Run();
  t.Commit();
  return from == 0;
}

std::size_t TMessageStore::IndexNewText() {
  const std::lock_guard oneAtATime(FUse);
  S();
  FNotIndexed = 0;
  if (!HasTextIndex(FDb, FPath)) return 0;
  TTransaction t(S(), true);
  TStmt add(FDb, FPath,
            "INSERT INTO messages_text(rowid, message_text, full_text) SELECT id, message_text, full_text "
            "FROM messages WHERE id > (SELECT upto FROM text_index_mark)");
  TUse(add).Run();
  const auto added = static_cast<std::size_t>(sqlite3_changes(FDb));
  TStmt moved(FDb, FPath,
              "UPDATE text_index_mark SET upto = max(upto, (SELECT coalesce(max(id), 0) FROM messages))");
  TUse(moved).Run();
  t.Commit();
  return added;
}

void TMessageStore::IndexWhenDue() {
  const std::lock_guard oneAtATime(FUse);
  if (!FStatements || FNotIndexed < kTextIndexBatch || !sqlite3_get_autocommit(FDb)) return;
  try {
    IndexNewText();
  } catch (const EMessageStoreError&) {
    // The messages are kept and found without it; the next batch tries again.
  }
}

}  // namespace qm
