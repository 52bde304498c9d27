// The commit thread: what the owner queued goes into the file in bounded batches, and the
// owner hears when each try returned.
#include "store/DurableStore.h"

#include <algorithm>
#include <filesystem>
#include <system_error>
#include <utility>

#include "base/KillPoint.h"

namespace qm {
namespace fs = std::filesystem;

void TDurableStore::CommitOnThread(TPost post) {
  FPost = std::move(post);
  FOwner.Adopt();
  FThread = std::thread([this] { CommitThread(); });
}

bool TDurableStore::Queued(const TChange& change) {
  // A job's start goes to the thread too (a page of 100,000 messages is seconds of writing):
  // the queue waits for it (WaitForCommits) before the page leaves, so its token finds it at
  // the next start. What happens to it later may wait for the thread: a kill before then
  // leaves the job pending, and the next start asks the spooler.
  switch (change.Op) {
    case TChange::opAdd:
    case TChange::opSetFullText:
    case TChange::opSetAnswered:
    case TChange::opAcknowledgeAlarms:
    case TChange::opMarkLogged:
    case TChange::opBeginJob:
    case TChange::opAddToJob:
    case TChange::opSetJobDocument:
    case TChange::opPrintPiece:
    case TChange::opSetSpoolerJob:
    case TChange::opCompleteJob:
    case TChange::opFailJob:
      return true;
    default:
      return false;
  }
}

void TDurableStore::Drain() const {
  if (!FThread.joinable()) return;
  QM_ASSERT_OWNER_THREAD(FOwner);  // the owner's reads and changes wait here
  std::unique_lock guard(FGuard);
  if (FMarksHeld > 0) {
    FFlushMarks = true;
    FChanged.notify_all();
  }
  FChanged.wait(guard, [this] { return FInFlight == 0 && (FHeld.empty() || FFailing); });
}

void TDurableStore::CommitThread() {
  std::unique_lock guard(FGuard);
  int repairs = 0;  // of the batch at the front
  for (;;) {
    if (FStop) return;
    const auto now = std::chrono::steady_clock::now();
    const auto marksDue = FMarksSince + FMarkWait;
    const bool onlyMarksWaiting = !FFailing && FOthersHeld == 0 && !FFlushMarks && now < marksDue;
    const bool due = !FHeld.empty() && !onlyMarksWaiting && (!FFailing || now >= FNextTry);
    if (!due && !FCheck) {
      if (FFailing && !FHeld.empty())
        FChanged.wait_until(guard, FNextTry);
      else if (!FHeld.empty())
        FChanged.wait_until(guard, marksDue);
      else if (!FTextIndexed && !FFailing && IsOpen())
        FillTextIndex(guard);
      else
        FChanged.wait(guard);
      continue;
    }
    FCheck = false;
    if (FFailing && std::chrono::steady_clock::now() < FNextTry) continue;  // not yet its try
    // Open and in place, as WriteHeld asks; a failure there has set the next try.
    const bool ready = (IsOpen() || Open()) && InPlace();
    if (ready && FFailing && FHeld.empty()) Recovered(FWrittenWhileFailing);
    if (!due || !ready) {
      if (due) {
        ++FAttempts;
        FLastTryFailed = true;
        Returned();
      }
      FChanged.notify_all();
      continue;
    }
    // The batch stays at the front of FHeld (HasRepeatSince sees it) until its commit
    // returned; the owner queues behind it meanwhile. Only this thread maps ids now.
    std::size_t count = 0, bytes = 0;
    const auto piece = [](const TChange& c) {
      return c.Op == TChange::opPrintPiece || c.Messages.size() > kBatchChanges;
    };
    while (count < FHeld.size() && count < kBatchChanges && (count == 0 || bytes < kBatchBytes)) {
      // A job's large piece goes alone.
      if (count > 0 && piece(FHeld[count])) break;
      bytes += Footprint(FHeld[count++]);
      if (piece(FHeld[count - 1])) break;
    }
    const std::vector<TChange> batch(FHeld.begin(), FHeld.begin() + static_cast<std::ptrdiff_t>(count));
    FInFlight = batch.size();
    guard.unlock();
    TIdMap messages, jobs;
    std::vector<std::string> refused;
    std::string failure;
    bool damaged = false;
    try {
      FStore->Batch([&] {
        for (const TChange& change : batch) {
          try {
            Apply(change, &messages, &jobs);
          } catch (const EMessageStoreError& e) {
            if (e.Kind() != EMessageStoreError::ekRefused) throw;
            refused.push_back(e.what());
          }
        }
      });
    } catch (const EMessageStoreError& e) {
      failure = e.what();
      damaged = e.Kind() == EMessageStoreError::ekDamaged;
    }
    KillPoint();  // committed, not yet counted as kept
    guard.lock();
    FInFlight = 0;
    ++FAttempts;
    FLastTryFailed = !failure.empty();
    if (failure.empty()) {
      repairs = 0;
      FRepairedInPlace = false;
      FMessageIds.merge(messages);
      FJobIds.merge(jobs);
      Release(batch.size());
      for (const std::string& r : refused) Note("The message store refused a change: " + r);
      if (FFailing) {
        // Catching up: each batch's log goes into the file before the next, so the log never
        // holds more than a batch of a backlog.
        FWrittenWhileFailing += batch.size();
        FStore->TruncateLog();
        if (FHeld.empty())
          Recovered(FWrittenWhileFailing);
        else
          FNextTry = std::chrono::steady_clock::now();
      }
    } else if (damaged && ++repairs <= 2 && Repair(failure)) {
      // The same batch again at once, on the repaired store.
    } else {
      repairs = 0;
      // The log of the batch rolled back gives its room back to the disk.
      if (IsOpen()) FStore->TruncateLog();
      StartFailing(failure);
    }
    const bool caughtUp = !FFailing;  // catching up, the log was emptied above
    Returned();
    FChanged.notify_all();
    if (failure.empty()) {
      // Once the commit's news is out, and without the guard (a checkpoint syncs the file);
      // what comes meanwhile waits. The text index's batch, then on a disk short of room the
      // log emptied, so it never keeps megabytes the message log beside it is refused.
      guard.unlock();
      FStore->IndexWhenDue();
      // The room asked once a batch: a statfs is cheap beside a commit.
      if (caughtUp && ShortOfRoom()) FStore->TruncateLog();
      guard.lock();
    }
  }
}

void TDurableStore::Returned() const {
  if (FOnReturned && FPost) FPost(FOnReturned);
}

bool TDurableStore::Settled(std::int64_t id) const {
  const std::lock_guard guard(FGuard);
  if (MessageInFile(id) != 0 || (FFailing && FInFlight == 0)) return true;
  return std::none_of(FHeld.begin(), FHeld.end(),
                      [id](const TChange& c) { return c.Op == TChange::opAdd && c.Id == id; });
}

void TDurableStore::FillTextIndex(std::unique_lock<std::recursive_mutex>& guard) {
  // A step holds the store for some milliseconds; what comes meanwhile waits behind it.
  guard.unlock();
  bool done = true;
  try {
    done = FStore->FillTextIndex(kTextIndexStep);
  } catch (const EMessageStoreError&) {
    // Left for the next start: the search reads every message meanwhile, and a failing disk
    // shows at the next change.
  }
  guard.lock();
  FTextIndexed = done;
}

void TDurableStore::SetLowRoom(std::uintmax_t bytes) {
  FLowRoom = bytes;
}

void TDurableStore::SetMarkWait(std::chrono::milliseconds wait) {
  const std::lock_guard guard(FGuard);
  FMarkWait = wait;
}

bool TDurableStore::ShortOfRoom() const {
  std::error_code ec;
  fs::path folder = fs::path(FPath).parent_path();
  if (folder.empty()) folder = ".";
  const fs::space_info room = fs::space(folder, ec);
  return ec || room.available < FLowRoom.load();
}

}  // namespace qm
