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
// writer asks (its log passed kPages pages, SQLite's own threshold). Passive: it copies what
// no reader still needs and never holds the writer up; the writer starts the log over once all
// of it is copied. A failure (a full disk) is tried at the next request; the log grows
// meanwhile, as it would with a reader holding it.
class TCheckpointer {
 public:
  static constexpr int kPages = 1000;
  // What the log is cut back to when it starts over: the size it reaches between two
  // checkpoints (twice the threshold's pages of 4 KiB with their frame headers), so that a
  // log that restarts as it should is written over in place. A log cut back further grows
  // again a block at a time, and each sync that grows the file also writes its new size out
  // (the file system's inode, or its journal). Only a log grown past this (a reader holding
  // it, a writer outrunning the thread) gives the rest back; a store catching up after a
  // full disk empties its log after every batch (TMessageStore::TruncateLog).
  static constexpr std::int64_t kLogLimitBytes = 2 * kPages * (4096 + 24) + 32;

  // Without a connection (the file could not be opened again) Ready() is false.
  explicit TCheckpointer(const std::string& path);
  ~TCheckpointer();
  TCheckpointer(const TCheckpointer&) = delete;
  TCheckpointer& operator=(const TCheckpointer&) = delete;

  bool Ready() const { return FDb != nullptr; }
  // Checkpoints of the thread that copied pages.
  std::uint64_t Done() const;
  // Times the writer asked the thread, and checkpoints the writer made itself.
  std::uint64_t Requests() const;
  std::uint64_t WriterCheckpoints() const;

  // The writer's commit hook (sqlite3_wal_hook): on the writer's thread, after each commit.
  // Each time the log passes a multiple of the threshold without having started over, once:
  // the first time the thread is asked; a log that passes the next one as well is copied by
  // the writer itself, as SQLite would (a writer that commits faster than the thread copies,
  // a restore or a test, never leaves it a moment with the whole log copied, so the log
  // could not start over).
  static int AfterCommit(void* self, sqlite3* db, const char* name, int pages);

 private:
  void Request();
  void Run();

  sqlite3* FDb = nullptr;
  mutable std::mutex FLock;
  std::condition_variable FWake;
  bool FRequested = false, FStop = false;
  std::uint64_t FDone = 0, FRequests = 0, FByWriter = 0;
  // The writer's thread only: the log's pages after the last commit, and where it acts next.
  int FLogPages = 0, FNextAt = kPages;
  std::thread FThread;
};

}  // namespace qm
