// The history's questions: on the store's own connection and on a reader's.
#include <functional>
#include <utility>

#include "base/AsciiText.h"
#include "store/MessageStore.h"
#include "store/SqliteKit.h"
#include "store/TextIndex.h"

namespace qm {

using namespace sql;

namespace {

// A history question asks whether to stop every this many of SQLite's steps (a row of a text
// search takes a few dozen).
constexpr int kStopCheckSteps = 100;

// The stored kind a history kind asks for; an alert's category is its addressee.
std::string KindCondition(THistoryKind kind) {
  const std::string alert = "kind = " + std::to_string(kStoredNwsAlert) + " AND trim(addressee) = ";
  switch (kind) {
    case hkPersonal:
      return "kind = " + std::to_string(kStoredPersonal);
    case hkBulletin:
      return "kind = " + std::to_string(kStoredBulletin);
    case hkAnnouncement:
      return "kind = " + std::to_string(kStoredAnnouncement);
    case hkNwsWatch:
      return alert + "'NWS-WATCH'";
    case hkNwsWarning:
      return alert + "'NWS-WARN'";
    case hkNwsAdvisory:
      return alert + "'NWS-ADVIS'";
    case hkAll:
      break;
  }
  return {};
}

// `text` as a LIKE pattern that finds it anywhere, its wildcards taken literally.
std::string ContainsPattern(std::string_view text) {
  std::string pattern = "%";
  for (const char c : text) {
    if (c == '%' || c == '_' || c == '\\') pattern += '\\';
    pattern += c;
  }
  return pattern + "%";
}

// The ids a history filter lets through, newest first; the newest `limit` only when it is not 0.
// `stop` (when set) is asked now and then where SQLite's progress handler is not.
std::vector<std::int64_t> FindIds(sqlite3* db, const std::string& path, const THistoryFilter& filter,
                                  std::size_t limit, const std::function<bool()>& stop = {}) {
  std::string conditions = "1";
  std::vector<std::string> params;
  const std::string call = UpperCase(Trim(filter.Callsign));
  if (!call.empty() && call.back() == '*') {
    // A range of the upper-case indexes: from the start itself to the first text past it.
    std::string from = call.substr(0, call.size() - 1);
    std::string past = from;
    while (!past.empty() && static_cast<unsigned char>(past.back()) == 0xFF) past.pop_back();
    if (!past.empty()) {
      past.back() = static_cast<char>(past.back() + 1);
      params = {from, past};
      conditions +=
          " AND ((upper(source) >= ?1 AND upper(source) < ?2)"
          " OR (upper(trim(addressee)) >= ?1 AND upper(trim(addressee)) < ?2))";
    }
  } else if (!call.empty()) {
    params.push_back(call);
    conditions += " AND (upper(source) = ?1 OR upper(trim(addressee)) = ?1)";
  }
  if (const std::string kind = KindCondition(filter.Kind); !kind.empty()) conditions += " AND " + kind;
  if (!filter.Text.empty()) {
    // Numbered after the call's parameters, when there are any.
    params.push_back(ContainsPattern(filter.Text));
    conditions += " AND (message_text LIKE :text ESCAPE '\\' OR full_text LIKE :text ESCAPE '\\')";
  }
  const TReadTransaction snapshot(db, path);
  if (!filter.Text.empty()) {
    if (auto ids = FindThroughTextIndex(db, path, filter, conditions, params, limit, stop)) return *ids;
  }

  // A text is looked for in every row anyway: one pass through the table beats looking up
  // the rows an index names, one by one. Not so for the newest few, which the time index
  // reaches first.
  std::string sql =
      std::string(filter.Text.empty() || limit > 0 ? "SELECT id FROM messages WHERE "
                                                   : "SELECT id FROM messages NOT INDEXED WHERE ") +
      conditions + " ORDER BY utc_time DESC, id DESC";
  if (limit > 0) sql += " LIMIT " + std::to_string(limit);
  std::vector<std::int64_t> ids;
  TStmt stmt(db, path, sql);
  TUse use(stmt);
  for (const std::string& param : params) use.Bind(param);
  while (use.Step()) ids.push_back(use.Int(0));
  return ids;
}

}  // namespace

std::vector<std::int64_t> TMessageStore::FindMessages(const THistoryFilter& filter, std::size_t limit) const {
  const std::lock_guard oneAtATime(FUse);
  S();
  return FindIds(FDb, FPath, filter, limit);
}

std::vector<std::int64_t> TMessageStore::IdsAfter(std::int64_t after, std::size_t limit) const {
  const std::lock_guard oneAtATime(FUse);
  S();
  TStmt stmt(FDb, FPath, "SELECT id FROM messages WHERE id > ?1 ORDER BY id LIMIT ?2");
  TUse use(stmt);
  use.Bind(after);
  use.Bind(static_cast<std::int64_t>(limit));
  std::vector<std::int64_t> ids;
  while (use.Step()) ids.push_back(use.Int(0));
  return ids;
}

THistoryReader::THistoryReader(const std::string& path) : FPath(path) {
  FDb = OpenConnection(path, SQLITE_OPEN_READONLY | SQLITE_OPEN_NOMUTEX);
  try {
    Exec(FDb, FPath, "PRAGMA mmap_size = 268435456");
  } catch (...) {
    sqlite3_close(FDb);
    throw;
  }
}

THistoryReader::~THistoryReader() {
  sqlite3_close(FDb);
}

void THistoryReader::StopWhen(std::function<bool()> stop) {
  FStop = std::move(stop);
  sqlite3_progress_handler(
      FDb, FStop ? kStopCheckSteps : 0,
      [](void* reader) { return static_cast<THistoryReader*>(reader)->FStop() ? 1 : 0; }, this);
}

std::vector<std::int64_t> THistoryReader::FindMessages(const THistoryFilter& filter,
                                                       std::size_t limit) const {
  return FindIds(FDb, FPath, filter, limit, FStop);
}

std::vector<TLogRow> THistoryReader::ReceivedBetween(double fromUtc, double toUtc) const {
  // The desk's own traffic listed for paper is in the sent rows already; a store no build of
  // this kind opened yet lists none.
  const bool ownListed = HasColumn(FDb, FPath, "messages", "sent_id");
  TStmt stmt(FDb, FPath,
             std::string("SELECT utc_time, source, trim(addressee), message_text FROM messages"
                         " WHERE utc_time >= ?1 AND utc_time < ?2") +
                 (ownListed ? " AND sent_id = 0" : "") + " ORDER BY utc_time, id");
  TUse use(stmt);
  use.Bind(fromUtc).Bind(toUtc);
  std::vector<TLogRow> rows;
  while (use.Step())
    rows.push_back({.UtcTime = use.Real(0), .From = use.Text(1), .To = use.Text(2), .Text = use.Text(3)});
  return rows;
}

std::vector<TLogRow> THistoryReader::SentBetween(double fromUtc, double toUtc,
                                                 const std::string& ownCall) const {
  std::vector<TLogRow> rows;
  {
    // A store from before the desk sent anything has no such table, and this connection
    // only reads.
    TStmt table(FDb, FPath, "SELECT 1 FROM sqlite_master WHERE type = 'table' AND name = 'sent_messages'");
    TUse there(table);
    if (!there.Step()) return rows;
  }
  TStmt stmt(FDb, FPath,
             "SELECT created_utc, to_call, message_text FROM sent_messages"
             " WHERE created_utc >= ?1 AND created_utc < ?2 ORDER BY created_utc, id");
  TUse use(stmt);
  use.Bind(fromUtc).Bind(toUtc);
  while (use.Step())
    rows.push_back(
        {.UtcTime = use.Real(0), .From = ownCall, .To = use.Text(1), .Text = use.Text(2), .Outgoing = true});
  return rows;
}

}  // namespace qm
