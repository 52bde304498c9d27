// Damage as a disk does it: whole pages of a store file overwritten with `dd`, found by the
// objects that own them (SQLite's dbstat table).
#pragma once

#include <sqlite3.h>

#include <cstdlib>
#include <stdexcept>
#include <string>
#include <vector>

namespace qm::test {

// The pages (numbered from 1) of the tables and indexes named, as the file holds them now.
inline std::vector<int> PagesOf(const std::string& path, const std::vector<std::string>& names) {
  sqlite3* db = nullptr;
  // Read-write: as the last connection it removes the write-ahead log it opened, as a clean
  // end of the program does.
  sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr);
  std::vector<int> pages;
  for (const std::string& name : names) {
    sqlite3_stmt* stmt = nullptr;
    if (sqlite3_prepare_v2(db, "SELECT pageno FROM dbstat WHERE name = ? ORDER BY pageno", -1, &stmt,
                           nullptr) != SQLITE_OK) {
      const std::string error = sqlite3_errmsg(db);
      sqlite3_close(db);
      throw std::runtime_error(error);
    }
    sqlite3_bind_text(stmt, 1, name.c_str(), -1, SQLITE_TRANSIENT);
    while (sqlite3_step(stmt) == SQLITE_ROW) pages.push_back(sqlite3_column_int(stmt, 0));
    sqlite3_finalize(stmt);
  }
  sqlite3_close(db);
  return pages;
}

// Overwrites each page with zeros in place, as `dd conv=notrunc` does; false when dd failed.
inline bool OverwritePages(const std::string& path, const std::vector<int>& pages, int pageSize = 4096) {
  for (const int page : pages) {
    const std::string command = "dd if=/dev/zero of='" + path + "' bs=" + std::to_string(pageSize) +
                                " seek=" + std::to_string(page - 1) + " count=1 conv=notrunc status=none";
    if (std::system(command.c_str()) != 0) return false;
  }
  return true;
}

}  // namespace qm::test
