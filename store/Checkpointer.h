// The write-ahead log's checkpoints, away from the thread that commits.
#pragma once

#include <sqlite3.h>

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>

namespace qm {

// Copies the write-ahead log into the store on a thread with a connection of its own, when the
// writer asks (its log holds kPages pages after a commit, SQLite's own threshold). Passive:
// it copies what no reader still needs and never holds the writer up; the writer starts the
// log over once all of it is copied. A failure (a full disk) is tried at the next request;
// the log grows meanwhile, as it would with a reader holding it.
class TCheckpointer {
 public:
  static constexpr int kPages = 1000;

  // Without a connection (the file could not be opened again) Ready() is false.
  explicit TCheckpointer(const std::string& path);
  ~TCheckpointer();
  TCheckpointer(const TCheckpointer&) = delete;
  TCheckpointer& operator=(const TCheckpointer&) = delete;

  bool Ready() const { return FDb != nullptr; }
  // Checkpoints that copied pages.
  std::uint64_t Done() const;

  // The writer's commit hook (sqlite3_wal_hook): on the writer's thread, after each commit. A
  // writer that commits faster than the thread copies (a restore, a test) never leaves it a
  // moment with the whole log copied, so the log could not start over: past four times the
  // threshold the writer copies it itself, as SQLite would.
  static int AfterCommit(void* self, sqlite3* db, const char* name, int pages);

 private:
  void Request();
  void Run();

  sqlite3* FDb = nullptr;
  mutable std::mutex FLock;
  std::condition_variable FWake;
  bool FRequested = false, FStop = false;
  std::uint64_t FDone = 0;
  std::thread FThread;
};

}  // namespace qm
