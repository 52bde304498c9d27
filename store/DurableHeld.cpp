// What waits in memory while the store fails: the owner's changes held in their order (a new
// message ahead of a long job's pieces), the bound they may take, and the tries again.
#include "store/DurableStore.h"

#include <algorithm>
#include <iterator>
#include <utility>

#include "base/KillPoint.h"

namespace qm {

std::int64_t TDurableStore::Submit(TChange change) {
  if (FThread.joinable()) QM_ASSERT_OWNER_THREAD(FOwner);  // the owner's changes only
  if (FThread.joinable() && !Queued(change)) Drain();
  const std::lock_guard guard(FGuard);
  KillPoint();
  if (!FDropped.empty()) {
    // What refers to a message that was never held leaves it out.
    if ((change.Op == TChange::opSetFullText || change.Op == TChange::opSetAnswered) &&
        FDropped.count(change.Id) > 0)
      return change.Id;
    std::erase_if(change.Messages, [this](std::int64_t id) { return FDropped.count(id) > 0; });
  }
  if (change.Op == TChange::opAdd && FFailing && FHeldBytes + Footprint(change) > FHeldBound) {
    // Past the bound: listed, logged and printed in this run, never in the file.
    const std::int64_t id = --FLastHeldMessage;
    FDropped.insert(id);
    ++FDroppedSinceNote;
    const auto now = std::chrono::steady_clock::now();
    if (now >= FNextDroppedNote) {
      Note("The message store still cannot be written, and what waits for it fills the " +
               std::to_string(FHeldBound / (1024 * 1024)) +
               " MB it may take in memory: " + std::to_string(FDroppedSinceNote) +
               " new messages are not kept in the store (they are listed, logged and printed in this run, "
               "and not listed again after a restart)",
           FNextDroppedNote == std::chrono::steady_clock::time_point{});
      FNextDroppedNote = now + kDroppedNoteEvery;
      FDroppedSinceNote = 0;
    }
    return id;
  }
  if (FThread.joinable() && Queued(change)) {
    // The thread commits it with what else waits; its id is its own until then.
    if (change.Op == TChange::opAdd) change.Id = --FLastHeldMessage;
    if (change.Op == TChange::opBeginJob) change.Id = --FLastHeldJob;
    const std::int64_t id = change.Id;
    Hold(std::move(change));
    FChanged.notify_all();
    return id;
  }
  if (FHeld.empty() && IsOpen() && InPlace()) {
    for (int repairs = 0;; ++repairs) {
      try {
        const std::int64_t id = Apply(change);
        FRepairedInPlace = false;
        return id;
      } catch (const EMessageStoreError& e) {
        if (e.Kind() == EMessageStoreError::ekRefused) throw;
        if (e.Kind() == EMessageStoreError::ekDamaged && repairs < 2 && Repair(e.what())) continue;
        if (!FFailing) StartFailing(e.what());
        break;
      }
    }
  } else if (!FFailing) {
    StartFailing("no store is open");
  }
  // Waits in memory with an id of its own, unless it refers to something never stored.
  if (change.Op == TChange::opAdd) change.Id = --FLastHeldMessage;
  if (change.Op == TChange::opBeginJob) change.Id = --FLastHeldJob;
  const std::int64_t id = change.Id;
  Hold(std::move(change));
  return id;
}

std::size_t TDurableStore::Footprint(const TChange& c) {
  const TStoredMessage& m = c.Message;
  std::size_t bytes = sizeof(TChange) + c.Text.size() + c.Token.size() + c.Printer.size() + c.Place.size() +
                      c.Messages.size() * sizeof(std::int64_t);
  for (const std::string* text :
       {&m.Source, &m.Destination, &m.Path, &m.Addressee, &m.MessageText, &m.MessageId, &m.State, &m.RawText,
        &m.Line1, &m.Line2, &m.Line3, &m.FullText})
    bytes += text->size();
  return bytes;
}

void TDurableStore::Hold(TChange change) {
  FHeldBytes += Footprint(change);
  if (change.Op != TChange::opMarkLogged)
    ++FOthersHeld;
  else if (FMarksHeld++ == 0)
    FMarksSince = std::chrono::steady_clock::now();
  // A message taken while a long job's pieces wait goes before them and whatever else waits
  // that concerns only messages taken before it (marks, jobs, full texts; never a clear), so it
  // is kept, listed and logged within a piece's time, not the whole job's. Messages keep their
  // order among themselves.
  auto at = FHeld.end();
  const auto inFlight = FHeld.begin() + static_cast<std::ptrdiff_t>(FInFlight);
  const auto passes = [](const TChange& c) {
    return c.Op != TChange::opAdd && c.Op != TChange::opClear && c.Op != TChange::opFailPending;
  };
  if (change.Op == TChange::opAdd && FOthersHeld > 0)
    while (at != inFlight && passes(*std::prev(at))) --at;
  FHeld.insert(at, std::move(change));
}

void TDurableStore::Release(std::size_t count) {
  for (std::size_t i = 0; i < count; ++i) {
    FHeldBytes -= Footprint(FHeld[i]);
    --(FHeld[i].Op == TChange::opMarkLogged ? FMarksHeld : FOthersHeld);
  }
  FHeld.erase(FHeld.begin(), FHeld.begin() + static_cast<std::ptrdiff_t>(count));
  if (FMarksHeld == 0) FFlushMarks = false;
}

void TDurableStore::SetHeldBound(std::size_t bytes) {
  const std::lock_guard guard(FGuard);
  FHeldBound = bytes;
}

std::size_t TDurableStore::Dropped() const {
  const std::lock_guard guard(FGuard);
  return FDropped.size();
}

void TDurableStore::StartFailing(const std::string& reason) {
  FNextTry = std::chrono::steady_clock::now() + FRetryWait;
  FRetryWait = std::min(FRetryWait * 2, kLastRetry);
  if (FFailing) return;
  FFailing = true;
  FWrittenWhileFailing = 0;
  Note("The message store cannot be written (" + reason +
       "); new messages are kept in memory and written when it can be");
}

bool TDurableStore::WriteHeld() {
  if (!IsOpen() && !Open()) return false;
  if (!InPlace()) return false;
  int repairs = 0;
  while (!FHeld.empty()) {
    try {
      Apply(FHeld.front());
    } catch (const EMessageStoreError& e) {
      if (e.Kind() == EMessageStoreError::ekDamaged && ++repairs <= 2 && Repair(e.what())) continue;
      if (e.Kind() != EMessageStoreError::ekRefused) {
        if (IsOpen()) FStore->TruncateLog();
        StartFailing(e.what());
        return false;
      }
      // It would have thrown had it been written at once: it goes, said as it would have been.
      Note(std::string("The message store refused a change: ") + e.what());
    }
    repairs = 0;
    Release(1);
    // As on the commit thread: the log holds no more than a batch of the backlog.
    if (++FWrittenWhileFailing % kBatchChanges == 0) FStore->TruncateLog();
  }
  if (FFailing) Recovered(FWrittenWhileFailing);
  return true;
}

void TDurableStore::Recovered(std::size_t stored) {
  FFailing = false;
  FRetryWait = kFirstRetry;
  Note("The message store " + FPath + " is written again; " + std::to_string(stored) +
           " changes kept in memory were stored",
       false);
}

void TDurableStore::Retry() {
  const std::lock_guard guard(FGuard);
  if (FThread.joinable()) {
    // The files are checked, and a failing store tried, on the thread.
    FCheck = true;
    FChanged.notify_all();
    return;
  }
  if (!FFailing) {
    if (IsOpen()) InPlace();
    return;
  }
  if (std::chrono::steady_clock::now() < FNextTry) return;
  WriteHeld();
}

bool TDurableStore::Flush() {
  if (FThread.joinable()) {
    // One try now on the thread, then the answer.
    std::unique_lock guard(FGuard);
    if (!FFailing && FHeld.empty() && FInFlight == 0) return true;
    const std::uint64_t before = FAttempts;
    FNextTry = std::chrono::steady_clock::now();
    FFlushMarks = FMarksHeld > 0;
    FChanged.notify_all();
    FChanged.wait(guard, [&] {
      return FInFlight == 0 && (FHeld.empty() || (FFailing && FAttempts != before && FLastTryFailed));
    });
    return FHeld.empty();
  }
  const std::lock_guard guard(FGuard);
  if (!FFailing && FHeld.empty()) return true;
  return WriteHeld();
}

bool TDurableStore::Failing() const {
  const std::lock_guard guard(FGuard);
  return FFailing;
}

std::size_t TDurableStore::Waiting() const {
  const std::lock_guard guard(FGuard);
  return FHeld.size();
}

}  // namespace qm
