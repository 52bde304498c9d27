#include "store/Checkpointer.h"

namespace qm {

TCheckpointer::TCheckpointer(const std::string& path) {
  if (sqlite3_open_v2(path.c_str(), &FDb, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX, nullptr) !=
      SQLITE_OK) {
    sqlite3_close(FDb);
    FDb = nullptr;
    return;
  }
  FThread = std::thread([this] { Run(); });
}

TCheckpointer::~TCheckpointer() {
  {
    const std::lock_guard lock(FLock);
    FStop = true;
  }
  FWake.notify_one();
  if (FThread.joinable()) FThread.join();
  sqlite3_close(FDb);
}

std::uint64_t TCheckpointer::Done() const {
  const std::lock_guard lock(FLock);
  return FDone;
}

std::uint64_t TCheckpointer::Requests() const {
  const std::lock_guard lock(FLock);
  return FRequests;
}

std::uint64_t TCheckpointer::WriterCheckpoints() const {
  const std::lock_guard lock(FLock);
  return FByWriter;
}

int TCheckpointer::AfterCommit(void* self, sqlite3* db, const char* name, int pages) {
  auto& c = *static_cast<TCheckpointer*>(self);
  // Fewer pages than after the last commit: the log started over.
  if (pages < c.FLogPages) c.FNextAt = kPages;
  c.FLogPages = pages;
  if (pages < c.FNextAt) return SQLITE_OK;
  const bool first = c.FNextAt == kPages;
  c.FNextAt = (pages / kPages + 1) * kPages;
  if (first) {
    c.Request();
    return SQLITE_OK;
  }
  sqlite3_wal_checkpoint_v2(db, name, SQLITE_CHECKPOINT_PASSIVE, nullptr, nullptr);
  const std::lock_guard lock(c.FLock);
  ++c.FByWriter;
  return SQLITE_OK;
}

void TCheckpointer::Request() {
  {
    const std::lock_guard lock(FLock);
    FRequested = true;
    ++FRequests;
  }
  FWake.notify_one();
}

void TCheckpointer::Run() {
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

}  // namespace qm
