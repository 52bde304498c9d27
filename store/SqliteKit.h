// The store's few tools over SQLite's C interface: opening a connection, prepared statements
// and their use, errors as EMessageStoreError. Inside the store only.
#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <string>

#include "store/MessageStore.h"

namespace qm::sql {

std::string StoreError(const std::string& path, const std::string& reason);
EMessageStoreError::TKind KindOfCode(int code);
[[noreturn]] void ThrowSqlite(sqlite3* db, const std::string& path);

// A connection with extended result codes and the busy wait, or the failure to open it thrown.
sqlite3* OpenConnection(const std::string& path, int flags);

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

void Exec(sqlite3* db, const std::string& path, const char* sql);
// Runs `sql` in a write transaction of its own, rolled back when it fails.
void ExecWriting(sqlite3* db, const std::string& path, const std::string& sql);
std::int64_t QueryInt(sqlite3* db, const std::string& path, const std::string& sql);
std::string QueryText(sqlite3* db, const std::string& path, const std::string& sql);
bool HasColumn(sqlite3* db, const std::string& path, const char* table, const char* column);
bool HasTable(sqlite3* db, const std::string& path, const char* name);
// An AUTOINCREMENT table gives no id up to `last` again, also ids of rows no longer there.
void RaiseSequence(sqlite3* db, const std::string& path, const std::string& table, std::int64_t last);

// The questions of one search see the store as it was at its start.
class TReadTransaction {
 public:
  TReadTransaction(sqlite3* db, const std::string& path);
  ~TReadTransaction();
  TReadTransaction(const TReadTransaction&) = delete;
  TReadTransaction& operator=(const TReadTransaction&) = delete;

 private:
  sqlite3* FDb;
  bool FOwn;
};

// A connection closed with its owner.
class TConnection {
 public:
  TConnection(const std::string& path, bool create);
  ~TConnection();
  TConnection(const TConnection&) = delete;
  TConnection& operator=(const TConnection&) = delete;
  sqlite3* Get() const { return FDb; }

 private:
  sqlite3* FDb = nullptr;
};

}  // namespace qm::sql
