#include "store/MessageStore.h"

#include <sqlite3.h>

#include <algorithm>
#include <condition_variable>
#include <filesystem>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>
#include <utility>

#ifndef _WIN32
#include <sys/stat.h>
#endif

#include "base/AsciiText.h"
#include "base/PrivateFiles.h"
#include "base/TrustedClock.h"

namespace qm {
namespace {

// Written into the file header; tells this program's stores from other SQLite files.
constexpr int kApplicationId = 0x514d5354;  // "QMST"
constexpr int kBusyTimeoutMs = 2000;
// A history question asks whether to stop every this many of SQLite's steps (a row of a text
// search takes a few dozen).
constexpr int kStopCheckSteps = 100;

// Text columns are TEXT written with explicit lengths: the bytes are kept as they are, and
// unlike BLOBs they still answer LIKE (Debian builds SQLite with LIKE_DOESNT_MATCH_BLOBS).
// full_text stays the last column so that scans of the list never read a long alert.
constexpr const char* kSchema = R"sql(
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
constexpr const char* kHistoryIndexes = R"sql(
CREATE INDEX IF NOT EXISTS messages_source_upper ON messages(upper(source));
CREATE INDEX IF NOT EXISTS messages_addressee_upper ON messages(upper(trim(addressee)));
CREATE INDEX IF NOT EXISTS messages_kind ON messages(kind, utc_time);
)sql";

// The text index of the history's text filter: every three characters of the message text
// and the full text (FTS5's trigram tokenizer, ASCII case folded), the texts themselves left
// in the messages table. detail=none keeps only which message holds a trigram, not where:
// the search asks for each trigram of the text and checks every message found with the
// filter's own LIKE. Triggers keep it in step with the messages from the moment it exists;
// the messages a store held before (ids up to text_index_fill.below) are added a few at a time
// (TMessageStore::FillTextIndex), and until then the search reads every message. Older builds
// run the triggers too, and the triggers leave those messages alone until they are added.
constexpr const char* kTextIndexTable = R"sql(
CREATE VIRTUAL TABLE messages_text USING fts5(message_text, full_text, content='messages',
  content_rowid='id', tokenize='trigram', detail=none, columnsize=0);
)sql";
constexpr const char* kTextIndexTriggers = R"sql(
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
)sql";

// The statements write the print states, job states and job kinds as their numbers.
static_assert(StoredNumber(psUnprinted) == 0 && StoredNumber(psInJob) == 1 && StoredNumber(psPrinted) == 2 &&
              StoredNumber(psCleared) == 3);
static_assert(StoredNumber(jsPending) == 0 && StoredNumber(jsCompleted) == 1 && StoredNumber(jsFailed) == 2);
static_assert(StoredNumber(jkList) == 0 && StoredNumber(jkFullText) == 1);

// full_text_printed: waiting for paper, on paper, or never to be printed (printing was
// disabled when it came; older builds read that as printed, which keeps it off paper too).
constexpr int kFullTextUnprinted = 0;
constexpr int kFullTextPrinted = 1;
constexpr int kFullTextNotPrinted = 2;

constexpr const char* kMessageColumns =
    "id, local_time, utc_time, source, destination, path, addressee, message_text, message_no, kind, "
    "state_code, raw_text, line1, line2, line3, print_state, job_id, full_text_printed, full_text, "
    "(SELECT spooler_job FROM jobs WHERE jobs.id = messages.job_id), answered";

constexpr const char* kJobColumns =
    "id, kind, utc_time, printer, spooler_job, state, failure, document, token";

std::string StoreError(const std::string& path, const std::string& reason) {
  return path + ": " + reason;
}

// Failures of the disk or the file system, which may pass; the rest say the file or the
// change is wrong.
bool IsStorageCode(int code) {
  switch (code & 0xFF) {
    case SQLITE_FULL:
    case SQLITE_IOERR:
    case SQLITE_READONLY:
    case SQLITE_CANTOPEN:
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
    case SQLITE_PERM:
    case SQLITE_NOMEM:
    case SQLITE_PROTOCOL:
    case SQLITE_NOLFS:
      return true;
    default:
      return false;
  }
}

EMessageStoreError::TKind KindOfCode(int code) {
  if (IsStorageCode(code)) return EMessageStoreError::ekStorage;
  const int primary = code & 0xFF;
  if (primary == SQLITE_CORRUPT || primary == SQLITE_NOTADB) return EMessageStoreError::ekDamaged;
  return EMessageStoreError::ekRefused;
}

[[noreturn]] void ThrowSqlite(sqlite3* db, const std::string& path) {
  throw EMessageStoreError(StoreError(path, sqlite3_errmsg(db)), KindOfCode(sqlite3_extended_errcode(db)));
}

// A connection with extended result codes and the busy wait, or the failure to open it thrown.
sqlite3* OpenConnection(const std::string& path, int flags) {
  sqlite3* db = nullptr;
  if (sqlite3_open_v2(path.c_str(), &db, flags, nullptr) != SQLITE_OK) {
    const std::string reason = db ? sqlite3_errmsg(db) : "out of memory";
    const int code = db ? sqlite3_extended_errcode(db) : SQLITE_NOMEM;
    sqlite3_close(db);
    throw EMessageStoreError(StoreError(path, reason), KindOfCode(code));
  }
  sqlite3_extended_result_codes(db, 1);
  sqlite3_busy_timeout(db, kBusyTimeoutMs);
  return db;
}

// One prepared statement, finalized with its owner.
class TStmt {
 public:
  TStmt(sqlite3* db, const std::string& path, const std::string& sql) : FDb(db), FPath(&path) {
    if (sqlite3_prepare_v3(db, sql.c_str(), static_cast<int>(sql.size() + 1), SQLITE_PREPARE_PERSISTENT,
                           &FStmt, nullptr) != SQLITE_OK)
      ThrowSqlite(db, path);
  }
  ~TStmt() { sqlite3_finalize(FStmt); }
  TStmt(const TStmt&) = delete;
  TStmt& operator=(const TStmt&) = delete;

  sqlite3* Db() const { return FDb; }
  const std::string& Path() const { return *FPath; }
  sqlite3_stmt* Get() const { return FStmt; }

 private:
  sqlite3* FDb;
  const std::string* FPath;
  sqlite3_stmt* FStmt = nullptr;
};

// One use of a statement: binds in order, steps, and resets it whatever happens.
class TUse {
 public:
  explicit TUse(TStmt& stmt) : FStmt(stmt), FS(stmt.Get()) {}
  ~TUse() {
    sqlite3_reset(FS);
    sqlite3_clear_bindings(FS);
  }
  TUse(const TUse&) = delete;
  TUse& operator=(const TUse&) = delete;

  TUse& Bind(std::int64_t value) { return Check(sqlite3_bind_int64(FS, ++FParam, value)); }
  TUse& Bind(int value) { return Bind(static_cast<std::int64_t>(value)); }
  TUse& Bind(double value) { return Check(sqlite3_bind_double(FS, ++FParam, value)); }
  TUse& Bind(const std::string& text) {
    // data() is never null, so an empty text stays '' rather than NULL.
    return Check(sqlite3_bind_text64(FS, ++FParam, text.data(), text.size(), SQLITE_TRANSIENT, SQLITE_UTF8));
  }
  TUse& BindNull() { return Check(sqlite3_bind_null(FS, ++FParam)); }

  // True while there is a row to read.
  bool Step() {
    const int rc = sqlite3_step(FS);
    if (rc == SQLITE_ROW) return true;
    if (rc == SQLITE_DONE) return false;
    ThrowSqlite(FStmt.Db(), FStmt.Path());
  }
  void Run() {
    while (Step()) {
    }
  }
  int Changes() const { return sqlite3_changes(FStmt.Db()); }

  std::int64_t Int(int col) const { return sqlite3_column_int64(FS, col); }
  double Real(int col) const { return sqlite3_column_double(FS, col); }
  bool IsNull(int col) const { return sqlite3_column_type(FS, col) == SQLITE_NULL; }
  std::string Text(int col) const {
    // Read the pointer before the length, as SQLite asks.
    const auto* bytes = reinterpret_cast<const char*>(sqlite3_column_text(FS, col));
    const int size = sqlite3_column_bytes(FS, col);
    return bytes ? std::string(bytes, static_cast<std::size_t>(size)) : std::string();
  }

 private:
  TUse& Check(int rc) {
    if (rc != SQLITE_OK) ThrowSqlite(FStmt.Db(), FStmt.Path());
    return *this;
  }

  TStmt& FStmt;
  sqlite3_stmt* FS;
  int FParam = 0;
};

void Exec(sqlite3* db, const std::string& path, const char* sql) {
  if (sqlite3_exec(db, sql, nullptr, nullptr, nullptr) != SQLITE_OK) ThrowSqlite(db, path);
}

std::int64_t QueryInt(sqlite3* db, const std::string& path, const std::string& sql) {
  TStmt stmt(db, path, sql);
  TUse use(stmt);
  return use.Step() ? use.Int(0) : 0;
}

// Whether the store has its text index's triggers (an older build's, or a damaged index's, has none).
bool HasTextIndex(sqlite3* db, const std::string& path) {
  return QueryInt(db, path, "SELECT count(*) FROM sqlite_schema WHERE name = 'text_index_fill'") > 0;
}

bool HasColumn(sqlite3* db, const std::string& path, const char* table, const char* column) {
  return QueryInt(db, path,
                  std::string("SELECT count(*) FROM pragma_table_info('") + table + "') WHERE name = '" +
                      column + "'") > 0;
}

// The columns later versions added to the first schema.
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
}

std::string QueryText(sqlite3* db, const std::string& path, const std::string& sql) {
  TStmt stmt(db, path, sql);
  TUse use(stmt);
  return use.Step() ? use.Text(0) : std::string();
}

TStoredMessage ReadMessage(const TUse& row) {
  TStoredMessage m;
  m.Id = row.Int(0);
  m.LocalTime = row.Real(1);
  m.UtcTime = row.Real(2);
  m.Source = row.Text(3);
  m.Destination = row.Text(4);
  m.Path = row.Text(5);
  m.Addressee = row.Text(6);
  m.MessageText = row.Text(7);
  m.MessageId = row.Text(8);
  m.Kind = static_cast<int>(row.Int(9));
  m.State = row.Text(10);
  m.RawText = row.Text(11);
  m.Line1 = row.Text(12);
  m.Line2 = row.Text(13);
  m.Line3 = row.Text(14);
  m.PrintState = static_cast<TPrintState>(row.Int(15));
  m.JobId = row.Int(16);
  m.FullTextPrinted = row.Int(17) == kFullTextPrinted;
  m.FullTextWanted = !row.IsNull(18);
  m.FullText = row.Text(18);
  m.SpoolerJob = row.Int(19);
  m.Answered = row.Text(20);
  return m;
}

// The prepared statements of one store, made once at open.
struct TStoreStatements {
  TStoreStatements(sqlite3* db, const std::string& path)
      : Db(db),
        Path(path),
        Begin(db, path, "BEGIN"),
        BeginWrite(db, path, "BEGIN IMMEDIATE"),
        Commit(db, path, "COMMIT"),
        Rollback(db, path, "ROLLBACK"),
        AddMessage(db, path,
                   "INSERT INTO messages(local_time, utc_time, source, destination, path, addressee, "
                   "message_text, message_no, kind, state_code, raw_text, line1, line2, line3, full_text, "
                   "answered, logged) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, 0)"),
        SetFullText(db, path, "UPDATE messages SET full_text = ?, full_text_printed = ? WHERE id = ?"),
        Message(db, path, std::string("SELECT ") + kMessageColumns + " FROM messages WHERE id = ?"),
        Listed(db, path,
               std::string("SELECT ") + kMessageColumns +
                   " FROM messages WHERE print_state IN (0, 1) AND cleared = 0 ORDER BY id"),
        FullTextsUnprinted(db, path,
                           std::string("SELECT ") + kMessageColumns +
                               " FROM messages WHERE full_text IS NOT NULL AND full_text_printed = 0 "
                               "ORDER BY id"),
        AddJob(db, path, "INSERT INTO jobs(kind, utc_time, printer, document, token) VALUES (?, ?, ?, ?, ?)"),
        AddJobMessage(db, path, "INSERT INTO job_messages(job_id, position, message_id) VALUES (?, ?, ?)"),
        PutInJob(db, path,
                 "UPDATE messages SET print_state = 1, job_id = ?1 WHERE id = ?2 AND print_state IN (0, 1)"),
        SetSpoolerJob(db, path, "UPDATE jobs SET spooler_job = ? WHERE id = ?"),
        JobState(db, path, "SELECT kind, state FROM jobs WHERE id = ?"),
        SetJobState(db, path, "UPDATE jobs SET state = ?1, failure = coalesce(?2, failure) WHERE id = ?3"),
        PrintList(db, path,
                  "UPDATE messages SET print_state = 2, job_id = ?1 WHERE print_state <> 2 AND id IN "
                  "(SELECT message_id FROM job_messages WHERE job_id = ?1)"),
        PrintFullText(db, path,
                      "UPDATE messages SET full_text_printed = 1 WHERE full_text IS NOT NULL AND id IN "
                      "(SELECT message_id FROM job_messages WHERE job_id = ?1)"),
        ReturnList(db, path,
                   "UPDATE messages SET print_state = CASE cleared WHEN 0 THEN 0 ELSE 3 END "
                   "WHERE job_id = ? AND print_state = 1"),
        Job(db, path, std::string("SELECT ") + kJobColumns + " FROM jobs WHERE id = ?"),
        JobMessages(db, path, "SELECT message_id FROM job_messages WHERE job_id = ? ORDER BY position"),
        PendingJobs(db, path,
                    std::string("SELECT ") + kJobColumns + " FROM jobs WHERE state = 0 ORDER BY id"),
        PendingWithoutSpooler(db, path,
                              "SELECT id FROM jobs WHERE state = 0 AND spooler_job = 0 AND token = '' "
                              "ORDER BY id"),
        Unlogged(db, path,
                 std::string("SELECT ") + kMessageColumns + " FROM messages WHERE logged = 0 ORDER BY id"),
        MarkLogged(db, path, "UPDATE messages SET logged = 1 WHERE id = ?"),
        Clear(db, path,
              "UPDATE messages SET print_state = 3 WHERE print_state = 0 AND id >= ?1 AND id <> ?2"),
        ClearInJob(db, path,
                   "UPDATE messages SET cleared = 1 WHERE print_state = 1 AND id >= ?1 AND id <> ?2"),
        PurgeMessages(db, path,
                      "DELETE FROM messages WHERE utc_time < ?1 AND print_state IN (2, 3) "
                      "AND NOT (full_text IS NOT NULL AND full_text_printed = 0) "
                      "AND NOT EXISTS (SELECT 1 FROM job_messages jm JOIN jobs j ON j.id = jm.job_id "
                      "WHERE jm.message_id = messages.id AND j.state = 0)"),
        PurgeJobs(db, path,
                  "DELETE FROM jobs WHERE utc_time < ?1 AND state <> 0 "
                  "AND NOT EXISTS (SELECT 1 FROM job_messages WHERE job_id = jobs.id)") {}

  sqlite3* Db;
  const std::string& Path;
  TStmt Begin, BeginWrite, Commit, Rollback;
  TStmt AddMessage, SetFullText, Message, Listed, FullTextsUnprinted;
  TStmt AddJob, AddJobMessage, PutInJob, SetSpoolerJob, JobState, SetJobState, PrintList, PrintFullText,
      ReturnList, Job, JobMessages, PendingJobs, PendingWithoutSpooler, Unlogged, MarkLogged;
  TStmt Clear, ClearInJob, PurgeMessages, PurgeJobs;
};

// A transaction that rolls back unless committed: a failed change leaves nothing behind,
// and the connection is ready for the next one (after a full disk, too).
class TTransaction {
 public:
  // Inside a batch (TMessageStore::Batch) it is a savepoint of the batch's transaction.
  TTransaction(TStoreStatements& s, bool write) : FS(s), FNested(!sqlite3_get_autocommit(s.Db)) {
    if (FNested)
      Exec(FS.Db, FS.Path, "SAVEPOINT change");
    else
      TUse(write ? s.BeginWrite : s.Begin).Run();
  }
  ~TTransaction() {
    if (FDone || sqlite3_get_autocommit(FS.Db)) return;
    if (FNested) {
      sqlite3_exec(FS.Db, "ROLLBACK TO change; RELEASE change", nullptr, nullptr, nullptr);
      return;
    }
    sqlite3_reset(FS.Rollback.Get());
    sqlite3_step(FS.Rollback.Get());
    sqlite3_reset(FS.Rollback.Get());
  }
  TTransaction(const TTransaction&) = delete;
  TTransaction& operator=(const TTransaction&) = delete;

  void Commit() {
    if (FNested)
      Exec(FS.Db, FS.Path, "RELEASE change");
    else
      TUse(FS.Commit).Run();
    FDone = true;
  }

 private:
  TStoreStatements& FS;
  bool FNested;
  bool FDone = false;
};

}  // namespace

struct TMessageStore::TStatements : TStoreStatements {
  using TStoreStatements::TStoreStatements;
};

// Copies the write-ahead log into the store on a thread with a connection of its own, when the
// writer asks (its log holds kPages pages after a commit, SQLite's own threshold). Passive:
// it copies what no reader still needs and never holds the writer up; the writer starts the
// log over once all of it is copied. A failure (a full disk) is tried at the next request;
// the log grows meanwhile, as it would with a reader holding it.
class TCheckpointer {
 public:
  static constexpr int kPages = 1000;

  // Without a connection (the file could not be opened again) Ready() is false.
  explicit TCheckpointer(const std::string& path) {
    if (sqlite3_open_v2(path.c_str(), &FDb, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX, nullptr) !=
        SQLITE_OK) {
      sqlite3_close(FDb);
      FDb = nullptr;
      return;
    }
    FThread = std::thread([this] { Run(); });
  }
  ~TCheckpointer() {
    {
      const std::lock_guard lock(FLock);
      FStop = true;
    }
    FWake.notify_one();
    if (FThread.joinable()) FThread.join();
    sqlite3_close(FDb);
  }
  TCheckpointer(const TCheckpointer&) = delete;
  TCheckpointer& operator=(const TCheckpointer&) = delete;

  bool Ready() const { return FDb != nullptr; }
  // Checkpoints that copied pages.
  std::uint64_t Done() const {
    const std::lock_guard lock(FLock);
    return FDone;
  }

  // The writer's commit hook (sqlite3_wal_hook): on the writer's thread, after each commit. A
  // writer that commits faster than the thread copies (a restore, a test) never leaves it a
  // moment with the whole log copied, so the log could not start over: past four times the
  // threshold the writer copies it itself, as SQLite would.
  static int AfterCommit(void* self, sqlite3* db, const char* name, int pages) {
    if (pages >= 4 * kPages)
      sqlite3_wal_checkpoint_v2(db, name, SQLITE_CHECKPOINT_PASSIVE, nullptr, nullptr);
    else if (pages >= kPages)
      static_cast<TCheckpointer*>(self)->Request();
    return SQLITE_OK;
  }

 private:
  void Request() {
    {
      const std::lock_guard lock(FLock);
      FRequested = true;
    }
    FWake.notify_one();
  }
  void Run() {
    std::unique_lock lock(FLock);
    for (;;) {
      FWake.wait(lock, [this] { return FRequested || FStop; });
      if (FStop) return;
      FRequested = false;
      lock.unlock();
      // A connection that has read nothing yet does not know the store keeps a log.
      sqlite3_exec(FDb, "SELECT count(*) FROM sqlite_schema", nullptr, nullptr, nullptr);
      int logPages = 0, copied = 0;
      const int rc = sqlite3_wal_checkpoint_v2(FDb, nullptr, SQLITE_CHECKPOINT_PASSIVE, &logPages, &copied);
      lock.lock();
      if (rc == SQLITE_OK && copied > 0) ++FDone;
    }
  }

  sqlite3* FDb = nullptr;
  mutable std::mutex FLock;
  std::condition_variable FWake;
  bool FRequested = false, FStop = false;
  std::uint64_t FDone = 0;
  std::thread FThread;
};

TMessageStore::TMessageStore(const std::string& path) : FPath(path) {
  OpenFile();
}

void TMessageStore::Reopen() {
  const std::lock_guard oneAtATime(FUse);
  Close();
  OpenFile();
}

void TMessageStore::Close() {
  const std::lock_guard oneAtATime(FUse);
  FStatements.reset();
  // The checkpointer's connection goes first: the writer's close, as the last one, copies the
  // whole log into the store and removes it.
  if (FDb) sqlite3_wal_hook(FDb, nullptr, nullptr);
  FCheckpointer.reset();
  sqlite3_close(FDb);  // rolls back an open transaction
  FDb = nullptr;
  FDbFile = FWalFile = {};
}

TMessageStore::TStatements& TMessageStore::S() const {
  if (!FStatements)
    throw EMessageStoreError(StoreError(FPath, "the store is not open"), EMessageStoreError::ekStorage);
  return *FStatements;
}

void TMessageStore::OpenFile() {
  const std::string& path = FPath;
  // SQLite makes its log and index with the store's mode; an empty file counts as a new store.
  CreatePrivateFile(path);
  // The last connection's close folds the write-ahead log into the store and removes it: a
  // log still there means the last run did not close the store.
  std::error_code noLog;
  const bool unclean = std::filesystem::exists(path + "-wal", noLog);
  FDb = OpenConnection(path, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX);
  try {
    // Only reads until the file is known to be ours (or empty): nothing else is ever changed.
    const std::int64_t appId = QueryInt(FDb, FPath, "PRAGMA application_id");
    const std::int64_t version = QueryInt(FDb, FPath, "PRAGMA user_version");
    const std::int64_t objects = QueryInt(FDb, FPath, "SELECT count(*) FROM sqlite_schema");
    const bool empty = appId == 0 && version == 0 && objects == 0;
    if (!empty && (appId != kApplicationId || version < 1))
      throw EMessageStoreError(StoreError(path, "not a message store"), EMessageStoreError::ekDamaged);
    if (version > kSchemaVersion)
      throw EMessageStoreError(StoreError(path, "a message store of a later version (" +
                                                    std::to_string(version) + "), this program reads " +
                                                    std::to_string(kSchemaVersion)));
    if (!empty && unclean) {
      // A file damaged by a crash of the disk or the system fails here rather than on some
      // later write. After a clean end the start reads no more than it needs: damage found
      // later is repaired then (TMessageStore::RepairInPlace, CarryOver).
      const std::string check = QueryText(FDb, FPath, "PRAGMA quick_check(1)");
      if (check != "ok")
        throw EMessageStoreError(StoreError(path, "fails its integrity check: " + check),
                                 EMessageStoreError::ekDamaged);
    }

    // FULL: in WAL mode every commit syncs the WAL, so an accepted message survives a power cut.
    if (sqlite3_db_readonly(FDb, "main") == 1)
      throw EMessageStoreError(StoreError(path, "attempt to write a readonly database"),
                               EMessageStoreError::ekStorage);
    if (QueryText(FDb, FPath, "PRAGMA journal_mode = WAL") != "wal")
      throw EMessageStoreError(StoreError(path, "cannot keep a write-ahead log here"),
                               EMessageStoreError::ekStorage);
    Exec(FDb, FPath, "PRAGMA synchronous = FULL; PRAGMA foreign_keys = ON");
    // A log that grew (a backlog, a reader holding it) is cut back when it starts over.
    Exec(FDb, FPath, ("PRAGMA journal_size_limit = " + std::to_string(kLogLimitBytes)).c_str());
    // No mapped pages here: every page an insert touched stayed resident, so the program grew
    // with the file. The history's search maps the file on its own connection (THistoryReader).

    if (empty) {
      Exec(FDb, FPath, "BEGIN IMMEDIATE");
      // Another program may have made the store between the check and the lock.
      if (QueryInt(FDb, FPath, "SELECT count(*) FROM sqlite_schema") == 0) {
        Exec(FDb, FPath, kSchema);
        Exec(FDb, FPath,
             ("PRAGMA application_id = " + std::to_string(kApplicationId) +
              "; PRAGMA user_version = " + std::to_string(kSchemaVersion))
                 .c_str());
      }
      Exec(FDb, FPath, "COMMIT");
    }
    // Later versions migrate here, one step per version inside a transaction.
    Exec(FDb, FPath, "BEGIN IMMEDIATE");
    Exec(FDb, FPath, kHistoryIndexes);
    AddLaterColumns(FDb, FPath);
    Exec(FDb, FPath, "CREATE INDEX IF NOT EXISTS messages_unlogged ON messages(id) WHERE logged = 0");
    // When and where a message was acknowledged; older builds neither write nor read it.
    if (QueryInt(FDb, FPath, "SELECT count(*) FROM pragma_table_info('messages') WHERE name = 'answered'") ==
        0)
      Exec(FDb, FPath, "ALTER TABLE messages ADD COLUMN answered TEXT NOT NULL DEFAULT ''");
    // The text index: made at once, however many messages there are; those already kept are
    // added later, a few at a time. Without FTS5 or its trigrams in this SQLite the text is
    // searched as before.
    if (!HasTextIndex(FDb, FPath)) {
      Exec(FDb, FPath, "SAVEPOINT text_index");
      if (sqlite3_exec(FDb, kTextIndexTable, nullptr, nullptr, nullptr) != SQLITE_OK ||
          sqlite3_exec(FDb, kTextIndexTriggers, nullptr, nullptr, nullptr) != SQLITE_OK) {
        const int code = sqlite3_extended_errcode(FDb);
        const std::string reason = sqlite3_errmsg(FDb);
        sqlite3_exec(FDb, "ROLLBACK TO text_index", nullptr, nullptr, nullptr);
        if (code != SQLITE_ERROR) throw EMessageStoreError(StoreError(path, reason), KindOfCode(code));
      }
      Exec(FDb, FPath, "RELEASE text_index");
    }
    Exec(FDb, FPath, "COMMIT");
    // A text index that cannot be read (its pages damaged) would fail every new message
    // through its triggers: they go, with the fill mark, and the text is searched as before.
    // The index itself stays (SQLite cannot drop what it cannot open), and is not made again.
    if (HasTextIndex(FDb, FPath)) {
      if (sqlite3_exec(FDb, "SELECT rowid FROM messages_text WHERE messages_text MATCH '\"qqq\"' LIMIT 1",
                       nullptr, nullptr, nullptr) != SQLITE_OK)
        Exec(FDb, FPath,
             "BEGIN IMMEDIATE; DROP TRIGGER messages_text_insert; DROP TRIGGER messages_text_update; "
             "DROP TRIGGER messages_text_delete; DROP TABLE text_index_fill; COMMIT");
    }
    RememberFiles();
    // Checkpoints leave the committing thread; without a second connection the writer keeps
    // SQLite's automatic checkpoint.
    FCheckpointer = std::make_unique<TCheckpointer>(path);
    if (FCheckpointer->Ready())
      sqlite3_wal_hook(FDb, &TCheckpointer::AfterCommit, FCheckpointer.get());
    else
      FCheckpointer.reset();
    try {
      FStatements = std::make_unique<TStatements>(FDb, FPath);
    } catch (const EMessageStoreError& e) {
      // A store that says it is ours but lacks its tables.
      if (e.Kind() != EMessageStoreError::ekRefused) throw;
      throw EMessageStoreError(e.what(), EMessageStoreError::ekDamaged);
    }
  } catch (...) {
    Close();
    throw;
  }
}

TMessageStore::~TMessageStore() {
  Close();
}

std::int64_t TMessageStore::Add(const TStoredMessage& m) {
  const std::lock_guard oneAtATime(FUse);
  TTransaction t(S(), true);
  TUse use(S().AddMessage);
  use.Bind(m.LocalTime).Bind(m.UtcTime).Bind(m.Source).Bind(m.Destination).Bind(m.Path).Bind(m.Addressee);
  use.Bind(m.MessageText).Bind(m.MessageId).Bind(m.Kind).Bind(m.State).Bind(m.RawText);
  use.Bind(m.Line1).Bind(m.Line2).Bind(m.Line3);
  if (m.FullTextWanted)
    use.Bind(m.FullText);
  else
    use.BindNull();
  use.Bind(m.Answered);
  use.Run();
  const std::int64_t id = sqlite3_last_insert_rowid(FDb);
  t.Commit();
  return id;
}

void TMessageStore::SetFullText(std::int64_t id, const std::string& text, bool toPrint) {
  const std::lock_guard oneAtATime(FUse);
  TTransaction t(S(), true);
  TUse use(S().SetFullText);
  use.Bind(text)
      .Bind(static_cast<std::int64_t>(toPrint ? kFullTextUnprinted : kFullTextNotPrinted))
      .Bind(id)
      .Run();
  if (use.Changes() == 0) throw EMessageStoreError(StoreError(FPath, "no message " + std::to_string(id)));
  t.Commit();
}

std::vector<TStoredMessage> TMessageStore::Listed() const {
  const std::lock_guard oneAtATime(FUse);
  std::vector<TStoredMessage> result;
  TUse use(S().Listed);
  while (use.Step()) result.push_back(ReadMessage(use));
  return result;
}

std::vector<TStoredMessage> TMessageStore::FullTextsUnprinted() const {
  const std::lock_guard oneAtATime(FUse);
  std::vector<TStoredMessage> result;
  TUse use(S().FullTextsUnprinted);
  while (use.Step()) result.push_back(ReadMessage(use));
  return result;
}

std::vector<TStoredMessage> TMessageStore::Messages(const std::vector<std::int64_t>& ids) const {
  const std::lock_guard oneAtATime(FUse);
  std::vector<TStoredMessage> result;
  TTransaction t(S(), false);
  for (const std::int64_t id : ids) {
    TUse use(S().Message);
    if (use.Bind(id).Step()) result.push_back(ReadMessage(use));
  }
  t.Commit();
  return result;
}

TStoredMessage TMessageStore::Message(std::int64_t id) const {
  const std::lock_guard oneAtATime(FUse);
  TUse use(S().Message);
  if (!use.Bind(id).Step()) throw EMessageStoreError(StoreError(FPath, "no message " + std::to_string(id)));
  return ReadMessage(use);
}

namespace {

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

}  // namespace

namespace {

// Candidates the text index may name before a search reads every message instead: looking
// one up and checking its texts costs up to 10 microseconds (a long full text), a pass through
// a million messages 0.4 s. The newest few are found early in that pass when the text is
// common (from 2,000 in a million on, 100,000 messages read at most), so fewer.
constexpr std::size_t kMostCandidates = 20000;
constexpr std::size_t kMostCandidatesForNewest = 2000;

// The text index's question for `text`: each of its trigrams as a term of its own, all of
// them asked for; empty when it has none. Only trigrams of ASCII characters (NUL aside): the
// index reads a text as UTF-8, and a byte past ASCII may join its neighbours in a stored text
// other than in the text searched for.
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

// Whether the text index holds every message (a store of an older build has none yet).
bool TextIndexComplete(sqlite3* db) {
  sqlite3_stmt* stmt = nullptr;
  if (sqlite3_prepare_v2(db, "SELECT below FROM text_index_fill", -1, &stmt, nullptr) != SQLITE_OK)
    return false;
  const bool complete = sqlite3_step(stmt) == SQLITE_ROW && sqlite3_column_int64(stmt, 0) == 0;
  sqlite3_finalize(stmt);
  return complete;
}

// The questions of one search see the store as it was at its start.
class TReadTransaction {
 public:
  TReadTransaction(sqlite3* db, const std::string& path) : FDb(db), FOwn(sqlite3_get_autocommit(db) != 0) {
    if (FOwn) Exec(db, path, "BEGIN");
  }
  ~TReadTransaction() {
    if (FOwn && !sqlite3_get_autocommit(FDb)) sqlite3_exec(FDb, "COMMIT", nullptr, nullptr, nullptr);
  }
  TReadTransaction(const TReadTransaction&) = delete;
  TReadTransaction& operator=(const TReadTransaction&) = delete;

 private:
  sqlite3* FDb;
  bool FOwn;
};

// The ids a filter with a text lets through, newest first, found through the text index:
// the messages holding every trigram of the text, each checked by `conditions` (the whole
// filter, its text by LIKE). Nothing when the index cannot answer (not complete, no trigram
// to ask for, too many candidates).
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

std::int64_t TMessageStore::BeginJob(TJobKind kind, const std::vector<std::int64_t>& messages,
                                     const std::string& printer, double utcTime, const std::string& document,
                                     const std::string& token) {
  const std::lock_guard oneAtATime(FUse);
  TTransaction t(S(), true);
  {
    TUse use(S().AddJob);
    use.Bind(static_cast<int>(kind)).Bind(utcTime).Bind(printer).Bind(document).Bind(token).Run();
  }
  const std::int64_t job = sqlite3_last_insert_rowid(FDb);
  std::int64_t position = 0;
  for (const std::int64_t id : messages) {
    // The foreign key refuses an unknown message.
    TUse(S().AddJobMessage).Bind(job).Bind(position++).Bind(id).Run();
    if (kind == jkList) TUse(S().PutInJob).Bind(job).Bind(id).Run();
  }
  t.Commit();
  return job;
}

void TMessageStore::SetSpoolerJob(std::int64_t job, std::int64_t spoolerJob) {
  const std::lock_guard oneAtATime(FUse);
  TTransaction t(S(), true);
  TUse use(S().SetSpoolerJob);
  use.Bind(spoolerJob).Bind(job).Run();
  if (use.Changes() == 0) throw EMessageStoreError(StoreError(FPath, "no job " + std::to_string(job)));
  t.Commit();
}

namespace {

std::pair<TJobKind, TJobState> JobKindAndState(TStoreStatements& s, std::int64_t job) {
  TUse use(s.JobState);
  if (!use.Bind(job).Step()) throw EMessageStoreError(StoreError(s.Path, "no job " + std::to_string(job)));
  return {static_cast<TJobKind>(use.Int(0)), static_cast<TJobState>(use.Int(1))};
}

void FailOne(TStoreStatements& s, std::int64_t job, const std::string& failure) {
  const auto [kind, state] = JobKindAndState(s, job);
  if (state == jsCompleted)
    throw EMessageStoreError(StoreError(s.Path, "job " + std::to_string(job) + " was completed"));
  TUse(s.SetJobState).Bind(static_cast<int>(jsFailed)).Bind(failure).Bind(job).Run();
  if (kind == jkList) TUse(s.ReturnList).Bind(job).Run();
}

}  // namespace

void TMessageStore::CompleteJob(std::int64_t job) {
  const std::lock_guard oneAtATime(FUse);
  TTransaction t(S(), true);
  const TJobKind kind = JobKindAndState(S(), job).first;
  TUse(S().SetJobState).Bind(static_cast<int>(jsCompleted)).BindNull().Bind(job).Run();
  TUse(kind == jkList ? S().PrintList : S().PrintFullText).Bind(job).Run();
  t.Commit();
}

void TMessageStore::FailJob(std::int64_t job, const std::string& failure) {
  const std::lock_guard oneAtATime(FUse);
  TTransaction t(S(), true);
  FailOne(S(), job, failure);
  t.Commit();
}

namespace {

TStoredJob ReadJob(TStoreStatements& s, const TUse& row) {
  TStoredJob job;
  job.Id = row.Int(0);
  job.Kind = static_cast<TJobKind>(row.Int(1));
  job.UtcTime = row.Real(2);
  job.Printer = row.Text(3);
  job.SpoolerJob = row.Int(4);
  job.State = static_cast<TJobState>(row.Int(5));
  job.Failure = row.Text(6);
  job.Document = row.Text(7);
  job.Token = row.Text(8);
  TUse messages(s.JobMessages);
  messages.Bind(job.Id);
  while (messages.Step()) job.Messages.push_back(messages.Int(0));
  return job;
}

}  // namespace

std::vector<TStoredJob> TMessageStore::PendingJobs() const {
  const std::lock_guard oneAtATime(FUse);
  std::vector<TStoredJob> result;
  TTransaction t(S(), false);
  {
    TUse use(S().PendingJobs);
    while (use.Step()) result.push_back(ReadJob(S(), use));
  }
  t.Commit();
  return result;
}

TStoredJob TMessageStore::Job(std::int64_t id) const {
  const std::lock_guard oneAtATime(FUse);
  TTransaction t(S(), false);
  TStoredJob job;
  {
    TUse use(S().Job);
    if (!use.Bind(id).Step()) throw EMessageStoreError(StoreError(FPath, "no job " + std::to_string(id)));
    job = ReadJob(S(), use);
  }
  t.Commit();
  return job;
}

int TMessageStore::ClearListed(std::int64_t fromId, std::int64_t keep) {
  const std::lock_guard oneAtATime(FUse);
  TTransaction t(S(), true);
  TUse use(S().Clear);
  use.Bind(fromId).Bind(keep).Run();
  const int cleared = use.Changes();
  TUse(S().ClearInJob).Bind(fromId).Bind(keep).Run();
  t.Commit();
  return cleared;
}

std::int64_t TMessageStore::LastMessageId() const {
  const std::lock_guard oneAtATime(FUse);
  S();
  // AUTOINCREMENT never gives an id again, so the sequence rather than the largest kept id.
  return QueryInt(FDb, FPath,
                  "SELECT coalesce((SELECT seq FROM sqlite_sequence WHERE name = 'messages'), 0)");
}

bool TMessageStore::HasRepeatSince(const TStoredMessage& m, bool byNumber, double utcFrom,
                                   double utcBefore) const {
  const std::lock_guard oneAtATime(FUse);
  if (byNumber && m.MessageId.empty()) return false;
  // upper(source) takes the history's index; few rows share a sender.
  TStmt stmt(FDb, FPath,
             byNumber
                 ? "SELECT 1 FROM messages WHERE upper(source) = upper(?1) AND message_no = ?2"
                   " AND utc_time >= ?3 AND utc_time < ?4 LIMIT 1"
                 : "SELECT 1 FROM messages WHERE upper(source) = upper(?1) AND trim(addressee) = trim(?2)"
                   " AND message_text = ?5 AND utc_time >= ?3 AND utc_time < ?4 LIMIT 1");
  S();
  TUse use(stmt);
  use.Bind(m.Source).Bind(byNumber ? m.MessageId : m.Addressee).Bind(utcFrom).Bind(utcBefore);
  if (!byNumber) use.Bind(m.MessageText);
  return use.Step();
}

int TMessageStore::FailPendingWithoutSpooler(const std::string& failure) {
  const std::lock_guard oneAtATime(FUse);
  TTransaction t(S(), true);
  std::vector<std::int64_t> jobs;
  {
    TUse use(S().PendingWithoutSpooler);
    while (use.Step()) jobs.push_back(use.Int(0));
  }
  for (const std::int64_t job : jobs) FailOne(S(), job, failure);
  t.Commit();
  return static_cast<int>(jobs.size());
}

std::vector<TStoredMessage> TMessageStore::Unlogged() const {
  const std::lock_guard oneAtATime(FUse);
  std::vector<TStoredMessage> result;
  TUse use(S().Unlogged);
  while (use.Step()) result.push_back(ReadMessage(use));
  return result;
}

void TMessageStore::MarkLogged(const std::vector<std::int64_t>& ids) {
  const std::lock_guard oneAtATime(FUse);
  if (ids.empty()) return;
  TTransaction t(S(), true);
  for (const std::int64_t id : ids) TUse(S().MarkLogged).Bind(id).Run();
  t.Commit();
}

int TMessageStore::Purge(double utcCutoff) {
  const std::lock_guard oneAtATime(FUse);
  utcCutoff -= TTrustedClock::Shared().AheadDays();
  TTransaction t(S(), true);
  TUse messages(S().PurgeMessages);
  messages.Bind(utcCutoff).Run();
  const int purged = messages.Changes();
  TUse(S().PurgeJobs).Bind(utcCutoff).Run();
  t.Commit();
  return purged;
}

TMessageStore::TFileId TMessageStore::FileIdOf(const std::string& path) {
#ifndef _WIN32
  struct stat st {};
  if (::stat(path.c_str(), &st) == 0)
    return {static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino)};
#else
  (void)path;
#endif
  return {};
}

void TMessageStore::RememberFiles() {
  // The log exists from the first write on and keeps its file while the store is open.
  FDbFile = FileIdOf(FPath);
  FWalFile = FileIdOf(FPath + "-wal");
}

std::string TMessageStore::Displaced() const {
  const std::lock_guard oneAtATime(FUse);
  const auto check = [](const TFileId& open, const std::string& path) -> std::string {
    if (open == TFileId{}) return {};
    const TFileId now = FileIdOf(path);
    if (now == open) return {};
    return now == TFileId{} ? "deleted" : "replaced";
  };
  if (std::string db = check(FDbFile, FPath); !db.empty()) return db;
  if (const std::string wal = check(FWalFile, FPath + "-wal"); !wal.empty())
    return "its write-ahead log " + wal;
  return {};
}

void TMessageStore::CopyTo(const std::string& target) const {
  const std::lock_guard oneAtATime(FUse);
  S();
  sqlite3* dest = nullptr;
  CreatePrivateFile(target);
  int rc = sqlite3_open_v2(target.c_str(), &dest, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
  if (rc == SQLITE_OK) {
    sqlite3_backup* backup = sqlite3_backup_init(dest, "main", FDb, "main");
    if (backup == nullptr) {
      rc = sqlite3_extended_errcode(dest);
    } else {
      rc = sqlite3_backup_step(backup, -1);
      const int finish = sqlite3_backup_finish(backup);
      rc = rc == SQLITE_DONE ? finish : rc;
    }
  }
  sqlite3_close(dest);
  if (rc != SQLITE_OK) throw EMessageStoreError(StoreError(target, sqlite3_errstr(rc)), KindOfCode(rc));
}

void TMessageStore::Batch(const std::function<void()>& changes) {
  const std::lock_guard oneAtATime(FUse);
  sqlite3* db = S().Db;
  Exec(db, FPath, "BEGIN IMMEDIATE");
  try {
    changes();
    Exec(db, FPath, "COMMIT");
  } catch (...) {
    if (!sqlite3_get_autocommit(db)) sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
    throw;
  }
}

bool TMessageStore::FillTextIndex(std::size_t rows) {
  const std::lock_guard oneAtATime(FUse);
  S();
  if (!HasTextIndex(FDb, FPath) || TextIndexComplete(FDb)) return true;
  TTransaction t(S(), true);
  // The triggers leave ids up to `below` to this; the new `below` is the id before the
  // lowest of the next `rows` kept.
  TStmt next(FDb, FPath,
             "SELECT coalesce((SELECT min(id) FROM (SELECT id FROM messages WHERE id <= f.below "
             "ORDER BY id DESC LIMIT ?1)) - 1, 0), f.below FROM text_index_fill f");
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
  TStmt moved(FDb, FPath, "UPDATE text_index_fill SET below = ?");
  TUse(moved).Bind(from).Run();
  t.Commit();
  return from == 0;
}

std::uint64_t TMessageStore::Checkpoints() const {
  return FCheckpointer ? FCheckpointer->Done() : 0;
}

bool TMessageStore::TruncateLog() {
  const std::lock_guard oneAtATime(FUse);
  return FDb && sqlite3_get_autocommit(FDb) &&
         sqlite3_wal_checkpoint_v2(FDb, nullptr, SQLITE_CHECKPOINT_TRUNCATE, nullptr, nullptr) == SQLITE_OK;
}

namespace {

// Runs `sql` in a write transaction of its own, rolled back when it fails.
void ExecWriting(sqlite3* db, const std::string& path, const std::string& sql) {
  Exec(db, path, "BEGIN IMMEDIATE");
  try {
    Exec(db, path, sql.c_str());
    Exec(db, path, "COMMIT");
  } catch (...) {
    sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
    throw;
  }
}

}  // namespace

std::string TMessageStore::RepairInPlace() {
  const std::lock_guard oneAtATime(FUse);
  S();
  if (!sqlite3_get_autocommit(FDb)) sqlite3_exec(FDb, "ROLLBACK", nullptr, nullptr, nullptr);
  const bool textIndex =
      QueryInt(FDb, FPath, "SELECT count(*) FROM sqlite_schema WHERE name = 'messages_text'") > 0;
  // The triggers first: a change that failed inside the text index goes through without them.
  if (HasTextIndex(FDb, FPath))
    ExecWriting(FDb, FPath,
                "DROP TRIGGER IF EXISTS messages_text_insert; DROP TRIGGER IF EXISTS messages_text_update; "
                "DROP TRIGGER IF EXISTS messages_text_delete; DROP TABLE text_index_fill");
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
    ExecWriting(
        FDb, FPath,
        std::string("INSERT INTO messages_text(messages_text) VALUES ('delete-all');") + kTextIndexTriggers);
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

class TConnection {
 public:
  TConnection(const std::string& path, bool create) {
    FDb =
        OpenConnection(path, SQLITE_OPEN_READWRITE | (create ? SQLITE_OPEN_CREATE : 0) | SQLITE_OPEN_NOMUTEX);
  }
  ~TConnection() { sqlite3_close(FDb); }
  TConnection(const TConnection&) = delete;
  TConnection& operator=(const TConnection&) = delete;
  sqlite3* Get() const { return FDb; }

 private:
  sqlite3* FDb = nullptr;
};

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
      (HasColumn(src, from, "messages", "logged") ? "logged" : "1");
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
    TStmt insert(dst, to,
                 "INSERT INTO messages(id, local_time, utc_time, source, destination, path, addressee, "
                 "message_text, message_no, kind, state_code, raw_text, line1, line2, line3, print_state, "
                 "job_id, full_text_printed, full_text, cleared, logged) "
                 "VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)");
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
  // Ids are never given twice, also past rows that were lost.
  for (const char* table : {"messages", "jobs"}) {
    const std::int64_t last = LastIdOf(src, from, table);
    TStmt raise(dst, to, "UPDATE sqlite_sequence SET seq = max(seq, ?2) WHERE name = ?1");
    TUse use(raise);
    use.Bind(std::string(table)).Bind(last).Run();
    if (use.Changes() == 0 && last > 0) {
      TStmt add(dst, to, "INSERT INTO sqlite_sequence(name, seq) VALUES (?1, ?2)");
      TUse(add).Bind(std::string(table)).Bind(last).Run();
    }
  }
  carried.Jobs = jobs.size();
  carried.Listed = static_cast<std::size_t>(
      QueryInt(dst, to, "SELECT count(*) FROM messages WHERE print_state IN (0, 1) AND cleared = 0"));
  Exec(dst, to, "COMMIT");
  return carried;
}

}  // namespace qm
