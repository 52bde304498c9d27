// The store's tables as this build makes them, and the steps that bring an older build's store
// up to them.
#pragma once

#include <sqlite3.h>

#include <string>
#include <utility>

#include "store/MessageStore.h"

namespace qm::sql {

// Written into the file header; tells this program's stores from other SQLite files.
inline constexpr int kApplicationId = 0x514d5354;  // "QMST"

// Text columns are TEXT written with explicit lengths: the bytes are kept as they are, and
// unlike BLOBs they still answer LIKE (Debian builds SQLite with LIKE_DOESNT_MATCH_BLOBS).
// full_text stays the last column so that scans of the list never read a long alert.
inline constexpr const char* kSchema = R"sql(
CREATE TABLE jobs(
  id INTEGER PRIMARY KEY AUTOINCREMENT,
  kind INTEGER NOT NULL CHECK (kind IN (0, 1)),
  utc_time REAL NOT NULL,
  printer TEXT NOT NULL,
  spooler_job INTEGER NOT NULL DEFAULT 0,
  state INTEGER NOT NULL DEFAULT 0 CHECK (state IN (0, 1, 2)),
  failure TEXT NOT NULL DEFAULT '',
  document TEXT NOT NULL
);
CREATE TABLE messages(
  id INTEGER PRIMARY KEY AUTOINCREMENT,
  local_time REAL NOT NULL,
  utc_time REAL NOT NULL,
  source TEXT NOT NULL,
  destination TEXT NOT NULL,
  path TEXT NOT NULL,
  addressee TEXT NOT NULL,
  message_text TEXT NOT NULL,
  message_no TEXT NOT NULL,
  kind INTEGER NOT NULL,
  state_code TEXT NOT NULL,
  raw_text TEXT NOT NULL,
  line1 TEXT NOT NULL,
  line2 TEXT NOT NULL,
  line3 TEXT NOT NULL,
  print_state INTEGER NOT NULL DEFAULT 0 CHECK (print_state IN (0, 1, 2, 3)),
  job_id INTEGER REFERENCES jobs(id) ON DELETE SET NULL,
  full_text_printed INTEGER NOT NULL DEFAULT 0,
  full_text TEXT
);
CREATE TABLE job_messages(
  job_id INTEGER NOT NULL REFERENCES jobs(id) ON DELETE CASCADE,
  position INTEGER NOT NULL,
  message_id INTEGER NOT NULL REFERENCES messages(id) ON DELETE CASCADE,
  PRIMARY KEY (job_id, position)
) WITHOUT ROWID;
CREATE INDEX messages_listed ON messages(id) WHERE print_state IN (0, 1);
CREATE INDEX messages_full_text_unprinted ON messages(id)
  WHERE full_text IS NOT NULL AND full_text_printed = 0;
CREATE INDEX messages_job ON messages(job_id) WHERE job_id IS NOT NULL;
CREATE INDEX messages_utc_time ON messages(utc_time);
CREATE INDEX job_messages_message ON job_messages(message_id);
CREATE INDEX jobs_pending ON jobs(id) WHERE state = 0;
)sql";

// The history's questions: by time (newest first), by sender or addressee as typed (any
// case), by kind. Made at every open, so stores of earlier builds get them too; older builds
// read a store that has them as before.
inline constexpr const char* kHistoryIndexes = R"sql(
CREATE INDEX IF NOT EXISTS messages_source_upper ON messages(upper(source));
CREATE INDEX IF NOT EXISTS messages_addressee_upper ON messages(upper(trim(addressee)));
CREATE INDEX IF NOT EXISTS messages_kind ON messages(kind, utc_time);
)sql";

// The statements write the print states, job states and job kinds as their numbers.
static_assert(StoredNumber(psUnprinted) == 0 && StoredNumber(psInJob) == 1 && StoredNumber(psPrinted) == 2 &&
              StoredNumber(psCleared) == 3);
static_assert(StoredNumber(jsPending) == 0 && StoredNumber(jsCompleted) == 1 && StoredNumber(jsFailed) == 2);
static_assert(StoredNumber(jkList) == 0 && StoredNumber(jkFullText) == 1);
// The purge keeps a message whose alarm still sounds.
static_assert(StoredNumber(asNone) == 0 && StoredNumber(asSounding) == 1 &&
              StoredNumber(asAcknowledged) == 2);

// full_text_printed: waiting for paper, on paper, or never to be printed (printing was
// disabled when it came; older builds read that as printed, which keeps it off paper too).
inline constexpr int kFullTextUnprinted = 0;
inline constexpr int kFullTextPrinted = 1;
inline constexpr int kFullTextNotPrinted = 2;

// An NWS alert's words (TStoredMessage's Nws fields), in the order they are read.
inline constexpr std::pair<const char*, const char*> kNwsColumns[] = {
    {"nws_event", "TEXT"},       {"nws_areas", "TEXT"},
    {"nws_expires_utc", "REAL"}, {"nws_state", "INTEGER NOT NULL DEFAULT 0"},
    {"nws_words", "TEXT"},
};
static_assert(StoredNumber(nsLive) == 0 && StoredNumber(nsCancelled) == 1 && StoredNumber(nsSuperseded) == 2);

// The messages the desk sent, a table of their own: they are no traffic it heard.
inline constexpr const char* kSentSchema = R"sql(
CREATE TABLE IF NOT EXISTS sent_messages(
  id INTEGER PRIMARY KEY AUTOINCREMENT,
  to_call TEXT NOT NULL,
  message_text TEXT NOT NULL,
  message_no TEXT NOT NULL,
  created_utc REAL NOT NULL,
  state INTEGER NOT NULL DEFAULT 0 CHECK (state IN (0, 1, 2, 3, 4)),
  tries INTEGER NOT NULL DEFAULT 0,
  last_try_utc REAL NOT NULL DEFAULT 0,
  ended_utc REAL NOT NULL DEFAULT 0,
  source TEXT NOT NULL
);
CREATE INDEX IF NOT EXISTS sent_messages_sending ON sent_messages(id) WHERE state = 0;
CREATE INDEX IF NOT EXISTS sent_messages_created ON sent_messages(created_utc);
)sql";
static_assert(StoredNumber(ssSending) == 0 && StoredNumber(ssCancelled) == 4);

// The columns later versions added to the first schema.
void AddLaterColumns(sqlite3* db, const std::string& path);

// Which messages may still lack their log line: those past the id in logged_upto whose
// `logged` is 0. Every message up to that id is logged; it moves on now and then, as log
// lines are marked (TMessageStore::MarkLogged), so a start reads only the last few hundred
// messages to find them. Made from what the store holds when it is missing: `allLogged` when
// the store had no `logged` column before this open. The partial index the builds before
// kept instead (one more page in every commit) goes; those builds make it again and leave
// logged_upto where it was, which still holds, as they only add messages past it.
// A mark left far behind (a store an older build added to, or a repair wrote) moves on here
// once, so that no later start reads every message past it.
void MakeLoggedUpto(sqlite3* db, const std::string& path, bool allLogged);
// The id every message up to is logged: the one before the first unlogged message past
// logged_upto, or the last one.
inline constexpr const char* kLoggedUptoNow =
    "coalesce((SELECT id - 1 FROM messages WHERE id > (SELECT id FROM logged_upto) AND logged = 0 "
    "ORDER BY id LIMIT 1), (SELECT max(id) FROM messages), 0)";

}  // namespace qm::sql
