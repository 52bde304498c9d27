// Repairs of a damaged store: in place where only an index is damaged, else by carrying every
// row that can still be read over into a new store.
#include <algorithm>
#include <filesystem>
#include <functional>

#include "base/PrivateFiles.h"
#include "store/MessageStore.h"
#include "store/SqliteKit.h"
#include "store/StoreSchema.h"
#include "store/StoreStatements.h"
#include "store/TextIndex.h"

namespace qm {

using namespace sql;

std::string TMessageStore::RepairInPlace() {
  const std::lock_guard oneAtATime(FUse);
  S();
  if (!sqlite3_get_autocommit(FDb)) sqlite3_exec(FDb, "ROLLBACK", nullptr, nullptr, nullptr);
  const bool textIndex =
      QueryInt(FDb, FPath, "SELECT count(*) FROM sqlite_schema WHERE name = 'messages_text'") > 0;
  // The triggers first: a change that failed inside the text index goes through without them.
  if (HasTextIndex(FDb, FPath)) StopTextIndex(FDb, FPath);
  std::vector<std::string> indexes;
  {
    TStmt names(FDb, FPath,
                "SELECT name FROM sqlite_schema WHERE type = 'index' AND sql IS NOT NULL ORDER BY name");
    TUse use(names);
    while (use.Step()) indexes.push_back(use.Text(0));
  }
  for (const std::string& index : indexes) Exec(FDb, FPath, ("REINDEX \"" + index + "\"").c_str());
  std::string what = std::to_string(indexes.size()) + " indexes were rebuilt";
  if (textIndex) {
    // Emptied, and filled again from the messages a step at a time, as for an older store.
    RestartTextIndex(FDb, FPath);
    what = "the text index was emptied to be filled again and " + what;
  }
  return what;
}

namespace {

// Reads the rows of one table in id order through `scan` (rows past ?1) and, past a damaged
// page, one id at a time through `probe` (the row ?1) until one reads again; each row goes to
// `row`, whose column 0 is the id. Ids up to `lastId` are tried. Returns the ids that could not
// be read.
std::size_t ReadPastDamage(TStmt& scan, TStmt& probe, std::int64_t lastId,
                           const std::function<void(sqlite3_stmt*)>& row) {
  std::size_t unreadable = 0;
  std::int64_t after = 0;
  for (;;) {
    try {
      TUse use(scan);
      use.Bind(after);
      while (use.Step()) {
        after = use.Int(0);
        row(scan.Get());
      }
      return unreadable;
    } catch (const EMessageStoreError& e) {
      if (e.Kind() != EMessageStoreError::ekDamaged) throw;
    }
    for (;;) {
      if (++after > lastId) return unreadable;
      try {
        TUse one(probe);
        one.Bind(after);
        if (one.Step()) row(probe.Get());
        break;
      } catch (const EMessageStoreError& e) {
        if (e.Kind() != EMessageStoreError::ekDamaged) throw;
        ++unreadable;
      }
    }
  }
}

// Inserts the row `from` stands on through `insert`, column by column as it is.
void CopyRow(sqlite3_stmt* from, TStmt& insert) {
  sqlite3_stmt* to = insert.Get();
  for (int col = 0; col < sqlite3_column_count(from); ++col)
    sqlite3_bind_value(to, col + 1, sqlite3_column_value(from, col));
  TUse use(insert);
  use.Run();
}

// The highest id the table may hold: its sequence, or its largest id, whichever can be read.
std::int64_t LastIdOf(sqlite3* db, const std::string& path, const std::string& table) {
  std::int64_t last = 0;
  for (const std::string& sql :
       {"SELECT seq FROM sqlite_sequence WHERE name = '" + table + "'", "SELECT max(id) FROM " + table}) {
    try {
      last = std::max(last, QueryInt(db, path, sql));
    } catch (const EMessageStoreError&) {
    }
  }
  return last;
}

// ", nws_event, ..." as the damaged store has them; what an older build's lacks is empty.
std::string NwsColumnsOf(sqlite3* db, const std::string& path) {
  std::string columns;
  for (const auto& nws : kNwsColumns) {
    const char* column = nws.first;
    const bool has = HasColumn(db, path, "messages", column);
    columns += std::string(", ") + (has ? column : std::string_view(column) == "nws_state" ? "0" : "NULL");
  }
  return columns;
}

}  // namespace

TCarriedOver CarryOver(const std::string& from, const std::string& to) {
  TCarriedOver carried;
  const TConnection source(from, false);
  sqlite3* src = source.Get();
  // Columns an older build's store lacks take what that build meant.
  const std::string messageColumns =
      std::string(
          "id, local_time, utc_time, source, destination, path, addressee, message_text, message_no, "
          "kind, state_code, raw_text, line1, line2, line3, print_state, job_id, full_text_printed, "
          "full_text, ") +
      (HasColumn(src, from, "messages", "cleared") ? "cleared" : "0") + ", " +
      (HasColumn(src, from, "messages", "logged") ? "logged" : "1") + ", " +
      (HasColumn(src, from, "messages", "answered") ? "answered" : "''") + ", " +
      (HasColumn(src, from, "messages", "bulletin_cleared") ? "bulletin_cleared" : "0") + ", " +
      (HasColumn(src, from, "messages", "sent_id") ? "sent_id" : "0") +
      (HasColumn(src, from, "messages", "alarm_state")
           ? ", alarm_state, alarm_kind, acknowledged_by, acknowledged_where, acknowledged_utc"
           : ", 0, 0, NULL, NULL, NULL") +
      NwsColumnsOf(src, from);
  const std::string jobColumns =
      std::string("id, kind, utc_time, printer, spooler_job, state, failure, document, ") +
      (HasColumn(src, from, "jobs", "token") ? "token" : "''");

  std::error_code ec;
  for (const char* suffix : {"", "-journal", "-wal", "-shm"}) std::filesystem::remove(to + suffix, ec);
  CreatePrivateFile(to);
  const TConnection target(to, true);
  sqlite3* dst = target.Get();
  // One transaction: the new file is whole, or a rollback journal beside it says it is not.
  Exec(dst, to, "BEGIN IMMEDIATE");
  Exec(dst, to, kSchema);
  AddLaterColumns(dst, to);
  Exec(dst, to,
       ("PRAGMA application_id = " + std::to_string(kApplicationId) +
        "; PRAGMA user_version = " + std::to_string(TMessageStore::kSchemaVersion))
           .c_str());

  std::vector<std::int64_t> jobs;
  {
    TStmt scan(src, from, "SELECT " + jobColumns + " FROM jobs NOT INDEXED WHERE id > ?1 ORDER BY id");
    TStmt probe(src, from, "SELECT " + jobColumns + " FROM jobs WHERE id = ?1");
    TStmt insert(
        dst, to,
        "INSERT INTO jobs(id, kind, utc_time, printer, spooler_job, state, failure, document, token) "
        "VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?)");
    carried.Unreadable += ReadPastDamage(scan, probe, LastIdOf(src, from, "jobs"), [&](sqlite3_stmt* row) {
      CopyRow(row, insert);
      jobs.push_back(sqlite3_column_int64(row, 0));
    });
  }
  {
    TStmt scan(src, from,
               "SELECT " + messageColumns + " FROM messages NOT INDEXED WHERE id > ?1 ORDER BY id");
    TStmt probe(src, from, "SELECT " + messageColumns + " FROM messages WHERE id = ?1");
    TStmt insert(
        dst, to,
        "INSERT INTO messages(id, local_time, utc_time, source, destination, path, addressee, "
        "message_text, message_no, kind, state_code, raw_text, line1, line2, line3, print_state, "
        "job_id, full_text_printed, full_text, cleared, logged, answered, bulletin_cleared, sent_id, "
        "alarm_state, alarm_kind, acknowledged_by, acknowledged_where, acknowledged_utc, nws_event, "
        "nws_areas, nws_expires_utc, nws_state, nws_words) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, "
        "?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)");
    carried.Unreadable +=
        ReadPastDamage(scan, probe, LastIdOf(src, from, "messages"), [&](sqlite3_stmt* row) {
          CopyRow(row, insert);
          ++carried.Messages;
        });
  }
  {
    TStmt read(src, from, "SELECT job_id, position, message_id FROM job_messages WHERE job_id = ?");
    TStmt insert(dst, to, "INSERT INTO job_messages(job_id, position, message_id) VALUES (?, ?, ?)");
    for (const std::int64_t job : jobs) {
      try {
        TUse use(read);
        use.Bind(job);
        while (use.Step()) CopyRow(read.Get(), insert);
      } catch (const EMessageStoreError& e) {
        if (e.Kind() != EMessageStoreError::ekDamaged) throw;
        ++carried.Unreadable;
      }
    }
  }
  // What refers to a row that could not be read: a message whose job is gone is listed again.
  Exec(dst, to,
       "DELETE FROM job_messages WHERE message_id NOT IN (SELECT id FROM messages);"
       "UPDATE messages SET job_id = NULL, print_state = CASE print_state WHEN 1 THEN 0 ELSE print_state END "
       "WHERE job_id IS NOT NULL AND job_id NOT IN (SELECT id FROM jobs)");
  // The desk's own messages: their ids are their message numbers, which must never repeat.
  if (HasTable(src, from, "sent_messages")) {
    const std::string sentColumns =
        "id, to_call, message_text, message_no, created_utc, state, tries, last_try_utc, ended_utc, source";
    TStmt scan(src, from,
               "SELECT " + sentColumns + " FROM sent_messages NOT INDEXED WHERE id > ?1 ORDER BY id");
    TStmt probe(src, from, "SELECT " + sentColumns + " FROM sent_messages WHERE id = ?1");
    TStmt insert(dst, to,
                 "INSERT INTO sent_messages(" + sentColumns + ") VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?)");
    carried.Unreadable +=
        ReadPastDamage(scan, probe, LastIdOf(src, from, "sent_messages"), [&](sqlite3_stmt* row) {
          CopyRow(row, insert);
          ++carried.Sent;
        });
  }
  // Ids are never given twice, also past rows that were lost.
  for (const char* table : {"messages", "jobs", "sent_messages"})
    RaiseSequence(dst, to, table, LastIdOf(src, from, table));
  carried.Jobs = jobs.size();
  carried.Listed = static_cast<std::size_t>(
      QueryInt(dst, to, "SELECT count(*) FROM messages WHERE print_state IN (0, 1) AND cleared = 0"));
  Exec(dst, to, "COMMIT");
  return carried;
}

}  // namespace qm