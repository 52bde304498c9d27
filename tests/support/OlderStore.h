// A message store as a build before the text index left it: the index, its triggers and its
// fill mark gone, as if they had never been made.
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

inline void DropTextIndex(const std::string& path) {
  RunOnStoreFile(path,
                 "DROP TRIGGER messages_text_insert; DROP TRIGGER messages_text_update; "
                 "DROP TRIGGER messages_text_delete; DROP TABLE messages_text; DROP TABLE text_index_fill");
}

}  // namespace qm::test
