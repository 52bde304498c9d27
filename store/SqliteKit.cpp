#include "store/SqliteKit.h"

namespace qm::sql {
namespace {

constexpr int kBusyTimeoutMs = 2000;

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

}  // namespace

std::string StoreError(const std::string& path, const std::string& reason) {
  return path + ": " + reason;
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

sqlite3* OpenConnection(const std::string& path, int flags) {
  // SQLite counts every allocation under a global mutex for sqlite3_memory_used, which this
  // program never asks: about 6% of an add's instructions. Only possible before its first use.
  static const bool uncounted = sqlite3_config(SQLITE_CONFIG_MEMSTATUS, 0) == SQLITE_OK;
  (void)uncounted;
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

void Exec(sqlite3* db, const std::string& path, const char* sql) {
  if (sqlite3_exec(db, sql, nullptr, nullptr, nullptr) != SQLITE_OK) ThrowSqlite(db, path);
}

std::int64_t QueryInt(sqlite3* db, const std::string& path, const std::string& sql) {
  TStmt stmt(db, path, sql);
  TUse use(stmt);
  return use.Step() ? use.Int(0) : 0;
}

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

bool HasColumn(sqlite3* db, const std::string& path, const char* table, const char* column) {
  return QueryInt(db, path,
                  std::string("SELECT count(*) FROM pragma_table_info('") + table + "') WHERE name = '" +
                      column + "'") > 0;
}

bool HasTable(sqlite3* db, const std::string& path, const char* name) {
  return QueryInt(db, path, std::string("SELECT count(*) FROM sqlite_schema WHERE name = '") + name + "'") >
         0;
}

void RaiseSequence(sqlite3* db, const std::string& path, const std::string& table, std::int64_t last) {
  if (last <= 0) return;
  TStmt raise(db, path, "UPDATE sqlite_sequence SET seq = max(seq, ?2) WHERE name = ?1");
  TUse use(raise);
  use.Bind(table).Bind(last).Run();
  if (use.Changes() > 0) return;
  TStmt add(db, path, "INSERT INTO sqlite_sequence(name, seq) VALUES (?1, ?2)");
  TUse(add).Bind(table).Bind(last).Run();
}

std::string QueryText(sqlite3* db, const std::string& path, const std::string& sql) {
  TStmt stmt(db, path, sql);
  TUse use(stmt);
  return use.Step() ? use.Text(0) : std::string();
}

TReadTransaction::TReadTransaction(sqlite3* db, const std::string& path)
    : FDb(db), FOwn(sqlite3_get_autocommit(db) != 0) {
  if (FOwn) Exec(db, path, "BEGIN");
}

TReadTransaction::~TReadTransaction() {
  if (FOwn && !sqlite3_get_autocommit(FDb)) sqlite3_exec(FDb, "COMMIT", nullptr, nullptr, nullptr);
}

TConnection::TConnection(const std::string& path, bool create) {
  FDb = OpenConnection(path, SQLITE_OPEN_READWRITE | (create ? SQLITE_OPEN_CREATE : 0) | SQLITE_OPEN_NOMUTEX);
}

TConnection::~TConnection() {
  sqlite3_close(FDb);
}

}  // namespace qm::sql
