// A message store as a build before the text index left it: the index, its triggers and its
// mark gone, as if they had never been made.
#pragma once

#include <sqlite3.h>

#include <stdexcept>
#include <string>

namespace qm::test {

// Runs `sql` on the closed store file at `path`; throws what SQLite says.
inline void RunOnStoreFile(const std::string& path, const std::string& sql) {
  sqlite3* db = nullptr;
  const bool opened = sqlite3_open(path.c_str(), &db) == SQLITE_OK;
  const bool ran = opened && sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr) == SQLITE_OK;
  const std::string error = db ? sqlite3_errmsg(db) : "out of memory";
  sqlite3_close(db);
  if (!ran) throw std::runtime_error(path + ": " + error);
}

// The first column of the first row `sql` answers on the store file at `path` (0: no row).
inline long long QueryStoreFile(const std::string& path, const std::string& sql) {
  sqlite3* db = nullptr;
  sqlite3_stmt* stmt = nullptr;
  const bool prepared = sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK &&
                        sqlite3_prepare_v2(db, sql.c_str(), -1, &stmt, nullptr) == SQLITE_OK;
  const int rc = prepared ? sqlite3_step(stmt) : SQLITE_ERROR;
  const long long value = rc == SQLITE_ROW ? sqlite3_column_int64(stmt, 0) : 0;
  const std::string error = db ? sqlite3_errmsg(db) : "out of memory";
  sqlite3_finalize(stmt);
  sqlite3_close(db);
  if (rc != SQLITE_ROW && rc != SQLITE_DONE) throw std::runtime_error(path + ": " + error);
  return value;
}

inline void DropTextIndex(const std::string& path) {
  RunOnStoreFile(path,
                 "DROP TRIGGER messages_text_changed; DROP TRIGGER messages_text_deleted; "
                 "DROP TABLE messages_text; DROP TABLE text_index_mark");
}

}  // namespace qm::test
