// The files put right: the store opened (a damaged file carried over or moved aside), a file
// deleted or replaced under the open store written afresh, damage found by a change or a read
// repaired in place or carried over, and what a kill left of a copy finished or removed.
#include "store/DurableStore.h"

#include <filesystem>
#include <system_error>

#include "base/Timing.h"
#include "store/DurableStoreParts.h"

#ifndef _WIN32
#include <fcntl.h>
#include <unistd.h>
#endif

namespace qm {
namespace fs = std::filesystem;

namespace {

// A free name "<path>.<why>-<local time>" (with "-2", "-3", ... when taken).
std::string AsideName(const std::string& path, const char* why = "damaged") {
  const std::string stem =
      path + "." + why + "-" + FormatDateTime("yyyymmdd-hhnnss", CurrentDateTime(tfLocal));
  std::string name = stem;
  std::error_code ec;
  for (int n = 2; fs::exists(name, ec) || fs::exists(name + "-wal", ec); ++n)
    name = stem + "-" + std::to_string(n);
  return name;
}

// Moves a damaged store and its write-ahead log aside, so that SQLite still opens the copy
// with its log; the shared-memory index holds nothing of its own and goes. Returns the new
// name, or empty with `error` set.
std::string MoveAside(const std::string& path, std::string& error) {
  std::string aside = AsideName(path);
  std::error_code ec;
  fs::rename(path, aside, ec);
  if (ec) {
    error = path + ": cannot be moved aside: " + ec.message();
    return {};
  }
  if (fs::exists(path + "-wal", ec)) fs::rename(path + "-wal", aside + "-wal", ec);
  fs::remove(path + "-shm", ec);
  return aside;
}

void RemoveStoreFiles(const std::string& path) {
  std::error_code ec;
  for (const char* suffix : {"", "-wal", "-shm", "-journal"}) fs::remove(path + suffix, ec);
}

// Makes a rename durable.
void SyncFolderOf(const std::string& path) {
#ifndef _WIN32
  std::string dir = fs::path(path).parent_path().string();
  if (dir.empty()) dir = ".";
  const int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd >= 0) {
    ::fsync(fd);
    ::close(fd);
  }
#else
  (void)path;
#endif
}

// Puts a complete copy <path>.fresh in the store's place. The log and index of the file it
// replaces go first: SQLite would apply that log to the fresh copy.
void PutFreshInPlace(const std::string& path, std::error_code& ec) {
  fs::remove(path + "-wal", ec);
  if (!ec) fs::remove(path + "-shm", ec);
  if (!ec) fs::rename(path + ".fresh", path, ec);
  if (!ec) SyncFolderOf(path);
}

// A fresh copy left by a kill: complete (no rollback journal beside it) it is newer than the
// file at the path; otherwise it is a copy begun and never finished.
void FinishFreshCopy(const std::string& path) {
  std::error_code ec;
  if (!fs::exists(path + ".fresh", ec)) return;
  if (fs::exists(path + ".fresh-journal", ec)) {
    RemoveStoreFiles(path + ".fresh");
    return;
  }
  PutFreshInPlace(path, ec);
}

}  // namespace

void TidyAfterKill(const std::string& path) {
  RemoveStoreFiles(path + ".copying");  // a copy a kill cut short
  FinishFreshCopy(path);
}

bool TDurableStore::Open() {
  // Opened for the first time after failing at the start: its listed messages were not restored.
  const bool late = !FOpenedOnce && FFailing;
  for (int attempt = 0; attempt < 2; ++attempt) {
    try {
      if (FStore)
        FStore->Reopen();
      else
        FStore = std::make_unique<TMessageStore>(FPath);
      break;
    } catch (const EMessageStoreError& e) {
      std::string error = e.what();
      if (attempt == 0 && e.Kind() == EMessageStoreError::ekDamaged) {
        if (CarryOverDamaged(e.what())) continue;
        const std::string aside = MoveAside(FPath, error);
        if (!aside.empty()) {
          Note("The message store " + FPath + " was damaged (" + e.what() + "); it was moved to " + aside +
               " and a new store was started");
          continue;
        }
      }
      StartFailing(error);
      return false;
    }
  }
  if (late) {
    // Its listed messages were never restored in this run: they stay for the next start.
    std::size_t earlier = 0;
    try {
      FClearFrom = FStore->LastMessageId() + 1;
      earlier = FStore->Listed().size();
    } catch (const EMessageStoreError& e) {
      StartFailing(e.what());
      return false;
    }
    if (earlier > 0)
      Note("The message store " + FPath + " holds " + std::to_string(earlier) +
               " unprinted messages of an earlier run; they are listed at the next start",
           false);
  }
  FOpenedOnce = true;
  FTextIndexed = false;  // another file, perhaps
  PutBackSent();
  return true;
}

bool TDurableStore::Repair(const std::string& reason) {
  if (!FRepairedInPlace && IsOpen()) {
    FRepairedInPlace = true;
    try {
      const std::string what = FStore->RepairInPlace();
      Note("The message store " + FPath + " was damaged (" + reason + "); " + what + " in place");
      FTextIndexed = false;
      return true;
    } catch (const EMessageStoreError&) {
      // Its damaged pages cannot be read, so SQLite cannot free them: carried over instead.
    }
  }
  FRepairedInPlace = false;
  if (!CarryOverDamaged(reason)) {
    if (FStore) FStore->Close();
    std::string error;
    const std::string aside = MoveAside(FPath, error);
    if (aside.empty()) {
      StartFailing(error);
      return false;
    }
    Note("The message store " + FPath + " was damaged (" + reason + "); it was moved to " + aside +
         " and a new store was started");
  }
  return Open();
}

bool TDurableStore::CarryOverDamaged(const std::string& reason) {
  if (FStore) FStore->Close();  // its log folded in where the file still takes it
  const std::string carrying = FPath + ".copying";
  TCarriedOver carried;
  try {
    carried = CarryOver(FPath, carrying);
  } catch (const EMessageStoreError&) {
    RemoveStoreFiles(carrying);
    return false;
  }
  // Whole now: under this name a kill from here on leaves it for the next start to put in place.
  std::error_code ec;
  fs::rename(carrying, FPath + ".fresh", ec);
  if (ec) {
    RemoveStoreFiles(carrying);
    return false;
  }
  std::string error;
  const std::string aside = MoveAside(FPath, error);
  if (aside.empty()) {
    RemoveStoreFiles(FPath + ".fresh");
    return false;
  }
  PutFreshInPlace(FPath, ec);
  std::string note = "The message store " + FPath + " was damaged (" + reason + "); " +
                     std::to_string(carried.Messages) + " messages (" + std::to_string(carried.Listed) +
                     " of them unprinted)" + (carried.Sent > 0 ? ", " : " and ") +
                     std::to_string(carried.Jobs) + " print jobs" +
                     (carried.Sent > 0 ? " and " + std::to_string(carried.Sent) + " sent messages" : "") +
                     " were carried over into a new store";
  if (carried.Unreadable > 0)
    note += ", " + std::to_string(carried.Unreadable) + " rows that could not be read were left behind";
  Note(note + "; the damaged file was moved to " + aside);
  FTextIndexed = false;
  return true;
}

bool TDurableStore::InPlace() {
  const std::string what = FStore->Displaced();
  return what.empty() || WriteFresh(what);
}

bool TDurableStore::WriteFresh(const std::string& what) {
  // The open connection is the only whole copy now: it goes only once the fresh one is in
  // place. A kill on the way leaves either the fresh copy at the path or a complete
  // <path>.fresh that the next start puts there (PutFreshInPlace).
  // Written under another name first: a kill before the copy's first page would otherwise
  // leave an empty <path>.fresh that the next start takes for a whole one.
  const std::string copying = FPath + ".copying";
  RemoveStoreFiles(copying);
  RemoveStoreFiles(FPath + ".fresh");
  std::error_code ec;
  try {
    FStore->CopyTo(copying);
  } catch (const EMessageStoreError& e) {
    RemoveStoreFiles(copying);
    StartFailing(e.what());
    return false;
  }
  fs::rename(copying, FPath + ".fresh", ec);
  if (ec) {
    RemoveStoreFiles(copying);
    StartFailing(FPath + ": the fresh copy cannot be named: " + ec.message());
    return false;
  }
  const bool replaced = what == "replaced";
  std::string aside;
  if (replaced) {
    aside = AsideName(FPath, "replaced");
    fs::rename(FPath, aside, ec);
  }
  if (!ec) PutFreshInPlace(FPath, ec);
  if (ec) {
    StartFailing(FPath + ": the fresh copy cannot be put in place: " + ec.message());
    return false;
  }
  Note("The message store " + FPath + " was " + what +
       " while the program ran; a fresh store with everything it held was written there" +
       (aside.empty() ? "" : " (the file found there was moved to " + aside + ")"));
  // Closes the old connection (its log's name is free already) and opens the fresh copy.
  return Open();
}

}  // namespace qm
