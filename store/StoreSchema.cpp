#include "store/StoreSchema.h"

#include "store/SqliteKit.h"

namespace qm::sql {

void AddLaterColumns(sqlite3* db, const std::string& path) {
  // Messages cleared while their job was with the spooler: a failed job must not list them
  // again. A column older builds do not know and never read.
  if (!HasColumn(db, path, "messages", "cleared"))
    Exec(db, path, "ALTER TABLE messages ADD COLUMN cleared INTEGER NOT NULL DEFAULT 0");
  // A job's token, to find it at the spooler when its number was never kept.
  if (!HasColumn(db, path, "jobs", "token"))
    Exec(db, path, "ALTER TABLE jobs ADD COLUMN token TEXT NOT NULL DEFAULT ''");
  // Whether a message's log line reached the file. Older builds log as they keep, so their
  // messages (and those they add later) count as logged.
  if (!HasColumn(db, path, "messages", "logged"))
    Exec(db, path, "ALTER TABLE messages ADD COLUMN logged INTEGER NOT NULL DEFAULT 1");
  // When and where a message was acknowledged; older builds neither write nor read it.
  if (!HasColumn(db, path, "messages", "answered"))
    Exec(db, path, "ALTER TABLE messages ADD COLUMN answered TEXT NOT NULL DEFAULT ''");
  // The alarm a message raised and who acknowledged it, where and when. Older builds neither
  // write nor read them; their messages raised none.
  if (!HasColumn(db, path, "messages", "alarm_state")) {
    Exec(db, path, "ALTER TABLE messages ADD COLUMN alarm_state INTEGER NOT NULL DEFAULT 0");
    Exec(db, path, "ALTER TABLE messages ADD COLUMN alarm_kind INTEGER NOT NULL DEFAULT 0");
    Exec(db, path, "ALTER TABLE messages ADD COLUMN acknowledged_by TEXT");
    Exec(db, path, "ALTER TABLE messages ADD COLUMN acknowledged_where TEXT");
    Exec(db, path, "ALTER TABLE messages ADD COLUMN acknowledged_utc REAL");
  }
  // The alarms still sounding, read at every start: only they are in the index.
  Exec(db, path, "CREATE INDEX IF NOT EXISTS messages_sounding ON messages(id) WHERE alarm_state = 1");
  // An NWS alert in plain words. Messages of older builds have none and show as before.
  for (const auto& [column, type] : kNwsColumns)
    if (!HasColumn(db, path, "messages", column))
      Exec(db, path, (std::string("ALTER TABLE messages ADD COLUMN ") + column + " " + type).c_str());
  // A bulletin or announcement line the operator took off the bulletin board.
  if (!HasColumn(db, path, "messages", "bulletin_cleared"))
    Exec(db, path, "ALTER TABLE messages ADD COLUMN bulletin_cleared INTEGER NOT NULL DEFAULT 0");
  // The sent message a row lists as the desk's own traffic; 0: traffic heard. Older builds
  // list and print such a row as any other.
  if (!HasColumn(db, path, "messages", "sent_id"))
    Exec(db, path, "ALTER TABLE messages ADD COLUMN sent_id INTEGER NOT NULL DEFAULT 0");
  // The messages the desk sent; older builds neither write nor read them.
  Exec(db, path, kSentSchema);
}

void MakeLoggedUpto(sqlite3* db, const std::string& path, bool allLogged) {
  if (!HasTable(db, path, "logged_upto")) {
    // The old index, where there is one, finds the first unlogged message without a scan.
    Exec(db, path, "CREATE TABLE logged_upto(id INTEGER NOT NULL)");
    Exec(db, path,
         allLogged
             ? "INSERT INTO logged_upto SELECT coalesce(max(id), 0) FROM messages"
             : "INSERT INTO logged_upto SELECT coalesce((SELECT min(id) - 1 FROM messages WHERE logged = 0), "
               "(SELECT max(id) FROM messages), 0)");
  }
  Exec(db, path, "DROP INDEX IF EXISTS messages_unlogged");
  if (QueryInt(db, path,
               "SELECT coalesce((SELECT seq FROM sqlite_sequence WHERE name = 'messages'), 0) - "
               "(SELECT id FROM logged_upto)") > TMessageStore::kLoggedUptoStep)
    Exec(db, path, (std::string("UPDATE logged_upto SET id = ") + kLoggedUptoNow).c_str());
}

}  // namespace qm::sql
