#include "store/DurableStore.h"

#include <algorithm>
#include <cassert>
#include <filesystem>
#include <system_error>
#include <utility>

#include "base/AsciiText.h"
#include "base/KillPoint.h"
#include "base/Timing.h"

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

std::string KeptForNextStartText(std::size_t kept, std::size_t lost) {
  std::string text = std::to_string(kept) + " unprinted messages are kept for the next start";
  if (lost > 0) text += "; " + std::to_string(lost) + " could not be stored and are lost";
  return text;
}

TDurableStore::TDurableStore(std::string path, TNoteEvent onNote)
    : FPath(std::move(path)), FOnNote(std::move(onNote)) {
  RemoveStoreFiles(FPath + ".copying");  // a copy a kill cut short
  FinishFreshCopy(FPath);
  Open();
}

TDurableStore::~TDurableStore() {
  if (FThread.joinable()) {
    {
      const std::lock_guard guard(FGuard);
      FStop = true;
    }
    FChanged.notify_all();
    FThread.join();
  }
  FOnNote = nullptr;  // the owner may be half gone
  if (!FHeld.empty()) WriteHeld();
}

void TDurableStore::Note(const std::string& text, bool trouble) const {
  if (!FOnNote) return;
  if (FPost && std::this_thread::get_id() != FOwner) {
    FPost([onNote = FOnNote, text, trouble] { onNote(text, trouble); });
    return;
  }
  FOnNote(text, trouble);
}

void TDurableStore::CommitOnThread(TPost post) {
  FPost = std::move(post);
  FOwner = std::this_thread::get_id();
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
  return true;
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

std::int64_t TDurableStore::MessageInFile(std::int64_t id) const {
  if (id > 0) return id;
  const auto it = FMessageIds.find(id);
  return it == FMessageIds.end() ? 0 : it->second;
}

std::int64_t TDurableStore::JobInFile(std::int64_t id) const {
  if (id > 0) return id;
  const auto it = FJobIds.find(id);
  return it == FJobIds.end() ? 0 : it->second;
}

namespace {

std::int64_t Known(std::int64_t inFile, std::int64_t id, const std::string& path, const char* what) {
  if (inFile == 0)
    throw EMessageStoreError(path + ": " + what + " " + std::to_string(id) + " was never stored");
  return inFile;
}

}  // namespace

std::int64_t TDurableStore::Apply(const TChange& c, TIdMap* madeMessages, TIdMap* madeJobs) {
  TMessageStore& s = *FStore;
  // Ids made earlier in the same batch first.
  const auto messageInFile = [&](std::int64_t id) {
    const auto it = madeMessages ? madeMessages->find(id) : FMessageIds.end();
    return madeMessages && it != madeMessages->end() ? it->second : MessageInFile(id);
  };
  const auto jobInFile = [&](std::int64_t id) {
    const auto it = madeJobs ? madeJobs->find(id) : FJobIds.end();
    return madeJobs && it != madeJobs->end() ? it->second : JobInFile(id);
  };
  switch (c.Op) {
    case TChange::opAdd: {
      const std::int64_t id = s.Add(c.Message);
      if (c.Id < 0) (madeMessages ? *madeMessages : FMessageIds)[c.Id] = id;
      return id;
    }
    case TChange::opSetFullText:
      s.SetFullText(Known(messageInFile(c.Id), c.Id, FPath, "message"), c.Text, c.ToPrint);
      return c.Id;
    case TChange::opSetAnswered:
      s.SetAnswered(Known(messageInFile(c.Id), c.Id, FPath, "message"), c.Text);
      return c.Id;
    case TChange::opBeginJob: {
      std::vector<std::int64_t> ids;
      for (const std::int64_t m : c.Messages) ids.push_back(Known(messageInFile(m), m, FPath, "message"));
      const std::int64_t job = s.BeginJob(c.Kind, ids, c.Printer, c.UtcTime, c.Text, c.Token);
      if (c.Id < 0) (madeJobs ? *madeJobs : FJobIds)[c.Id] = job;
      return job;
    }
    case TChange::opAddToJob: {
      std::vector<std::int64_t> ids;
      for (const std::int64_t m : c.Messages) ids.push_back(Known(messageInFile(m), m, FPath, "message"));
      s.AddToJob(Known(jobInFile(c.Id), c.Id, FPath, "job"), ids, c.Position);
      return c.Id;
    }
    case TChange::opSetJobDocument:
      s.SetJobDocument(Known(jobInFile(c.Id), c.Id, FPath, "job"), c.Text);
      return c.Id;
    case TChange::opSetSpoolerJob:
      s.SetSpoolerJob(Known(jobInFile(c.Id), c.Id, FPath, "job"), c.SpoolerJob);
      return c.Id;
    case TChange::opPrintPiece:
      s.PrintJobPiece(Known(jobInFile(c.Id), c.Id, FPath, "job"), c.Position, c.Until);
      return c.Id;
    case TChange::opCompleteJob:
      s.CompleteJob(Known(jobInFile(c.Id), c.Id, FPath, "job"), c.Position);
      return c.Id;
    case TChange::opFailJob:
      s.FailJob(Known(jobInFile(c.Id), c.Id, FPath, "job"), c.Text);
      return c.Id;
    case TChange::opClear:
      return s.ClearListed(FClearFrom, c.Id == 0 ? 0 : messageInFile(c.Id));
    case TChange::opFailPending:
      return s.FailPendingWithoutSpooler(c.Text);
    case TChange::opMarkLogged: {
      std::vector<std::int64_t> ids;
      for (const std::int64_t m : c.Messages) ids.push_back(Known(messageInFile(m), m, FPath, "message"));
      s.MarkLogged(ids);
      return 0;
    }
  }
  return 0;
}

std::int64_t TDurableStore::Submit(TChange change) {
  assert(!FThread.joinable() || std::this_thread::get_id() == FOwner);  // the owner's changes only
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
  std::size_t bytes = sizeof(TChange) + c.Text.size() + c.Token.size() + c.Printer.size() +
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

void TDurableStore::SetLowRoom(std::uintmax_t bytes) {
  FLowRoom = bytes;
}

void TDurableStore::SetMarkWait(std::chrono::milliseconds wait) {
  const std::lock_guard guard(FGuard);
  FMarkWait = wait;
}

std::size_t TDurableStore::Dropped() const {
  const std::lock_guard guard(FGuard);
  return FDropped.size();
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
                     " of them unprinted) and " + std::to_string(carried.Jobs) +
                     " print jobs were carried over into a new store";
  if (carried.Unreadable > 0)
    note += ", " + std::to_string(carried.Unreadable) + " rows that could not be read were left behind";
  Note(note + "; the damaged file was moved to " + aside);
  FTextIndexed = false;
  return true;
}

template <class TRead>
auto TDurableStore::Reading(TRead read) const {
  try {
    return read();
  } catch (const EMessageStoreError& e) {
    if (e.Kind() != EMessageStoreError::TKind::ekDamaged) throw;
    // Reads come from the owner's thread with the store's guard: repaired as a change would be.
    if (!const_cast<TDurableStore*>(this)->Repair(e.what()) || !IsOpen()) throw;
    return read();
  }
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

std::int64_t TDurableStore::Add(const TStoredMessage& message) {
  TChange c;
  c.Op = TChange::opAdd;
  c.Message = message;
  return Submit(std::move(c));
}

void TDurableStore::SetFullText(std::int64_t id, const std::string& text, bool toPrint) {
  TChange c;
  c.Op = TChange::opSetFullText;
  c.Id = id;
  c.Text = text;
  c.ToPrint = toPrint;
  Submit(std::move(c));
}

void TDurableStore::SetAnswered(std::int64_t id, const std::string& answered) {
  TChange c;
  c.Op = TChange::opSetAnswered;
  c.Id = id;
  c.Text = answered;
  Submit(std::move(c));
}

std::int64_t TDurableStore::BeginJob(TJobKind kind, const std::vector<std::int64_t>& messages,
                                     const std::string& printer, double utcTime, const std::string& document,
                                     const std::string& token) {
  TChange c;
  c.Op = TChange::opBeginJob;
  c.Token = token;
  c.Kind = kind;
  const std::size_t first = kind == jkList ? std::min(messages.size(), kJobPiece) : messages.size();
  c.Messages.assign(messages.begin(), messages.begin() + static_cast<std::ptrdiff_t>(first));
  c.Printer = printer;
  c.UtcTime = utcTime;
  c.Text = document;
  const std::int64_t job = Submit(std::move(c));
  if (first < messages.size()) FPiecedJobs[job] = messages.size();
  for (std::size_t from = first; from < messages.size(); from += kJobPiece) {
    TChange more;
    more.Op = TChange::opAddToJob;
    more.Id = job;
    more.Position = static_cast<std::int64_t>(from);
    const std::size_t to = std::min(messages.size(), from + kJobPiece);
    more.Messages.assign(messages.begin() + static_cast<std::ptrdiff_t>(from),
                         messages.begin() + static_cast<std::ptrdiff_t>(to));
    Submit(std::move(more));
  }
  return job;
}

void TDurableStore::SetSpoolerJob(std::int64_t job, std::int64_t spoolerJob) {
  TChange c;
  c.Op = TChange::opSetSpoolerJob;
  c.Id = job;
  c.SpoolerJob = spoolerJob;
  Submit(std::move(c));
}

void TDurableStore::SetJobDocument(std::int64_t job, std::string document) {
  TChange c;
  c.Op = TChange::opSetJobDocument;
  c.Id = job;
  c.Text = std::move(document);
  Submit(std::move(c));
}

void TDurableStore::CompleteJob(std::int64_t job) {
  TChange c;
  c.Op = TChange::opCompleteJob;
  c.Id = job;
  if (const auto pieced = FPiecedJobs.find(job); pieced != FPiecedJobs.end()) {
    for (; c.Position + static_cast<std::int64_t>(kJobPiece) < static_cast<std::int64_t>(pieced->second);
         c.Position += static_cast<std::int64_t>(kJobPiece)) {
      TChange piece;
      piece.Op = TChange::opPrintPiece;
      piece.Id = job;
      piece.Position = c.Position;
      piece.Until = c.Position + static_cast<std::int64_t>(kJobPiece);
      Submit(std::move(piece));
    }
    FPiecedJobs.erase(pieced);
  }
  Submit(std::move(c));
}

void TDurableStore::FailJob(std::int64_t job, const std::string& failure) {
  FPiecedJobs.erase(job);
  TChange c;
  c.Op = TChange::opFailJob;
  c.Id = job;
  c.Text = failure;
  Submit(std::move(c));
}

int TDurableStore::ClearListed(std::int64_t keep) {
  Drain();
  const std::lock_guard guard(FGuard);
  TChange c;
  c.Op = TChange::opClear;
  c.Id = keep;
  const bool now = FHeld.empty() && IsOpen();
  const std::int64_t cleared = Submit(std::move(c));
  return now && FHeld.empty() ? static_cast<int>(cleared) : 0;
}

int TDurableStore::FailPendingWithoutSpooler(const std::string& failure) {
  Drain();
  const std::lock_guard guard(FGuard);
  TChange c;
  c.Op = TChange::opFailPending;
  c.Text = failure;
  const bool now = FHeld.empty() && IsOpen();
  const std::int64_t failed = Submit(std::move(c));
  return now && FHeld.empty() ? static_cast<int>(failed) : 0;
}

void TDurableStore::MarkLogged(const std::vector<std::int64_t>& ids) {
  if (ids.empty()) return;
  TChange c;
  c.Op = TChange::opMarkLogged;
  c.Messages = ids;
  Submit(std::move(c));
}

int TDurableStore::Purge(double utcCutoff) {
  Drain();
  const std::lock_guard guard(FGuard);
  if (!FHeld.empty() || !IsOpen()) return 0;
  try {
    return FStore->Purge(utcCutoff);
  } catch (const EMessageStoreError& e) {
    if (e.Kind() == EMessageStoreError::ekRefused) throw;
    StartFailing(e.what());
    return 0;
  }
}

std::vector<TStoredMessage> TDurableStore::Listed() const {
  Drain();
  const std::lock_guard guard(FGuard);
  return Reading([&] { return IsOpen() ? FStore->Listed() : std::vector<TStoredMessage>{}; });
}

std::vector<TStoredMessage> TDurableStore::FullTextsUnprinted() const {
  Drain();
  const std::lock_guard guard(FGuard);
  return Reading([&] { return IsOpen() ? FStore->FullTextsUnprinted() : std::vector<TStoredMessage>{}; });
}

std::vector<TStoredMessage> TDurableStore::Messages(const std::vector<std::int64_t>& ids) const {
  Drain();
  const std::lock_guard guard(FGuard);
  if (!IsOpen()) return {};
  std::vector<std::int64_t> inFile;
  for (const std::int64_t id : ids)
    if (const std::int64_t m = MessageInFile(id); m != 0) inFile.push_back(m);
  return Reading([&] { return FStore->Messages(inFile); });
}

TStoredMessage TDurableStore::Message(std::int64_t id) const {
  Drain();
  const std::lock_guard guard(FGuard);
  const std::int64_t inFile = Known(MessageInFile(id), id, FPath, "message");
  if (!IsOpen()) throw EMessageStoreError(FPath + ": no store is open", EMessageStoreError::ekStorage);
  return Reading([&] { return FStore->Message(inFile); });
}

std::vector<TStoredJob> TDurableStore::PendingJobs() const {
  Drain();
  const std::lock_guard guard(FGuard);
  return Reading([&] { return IsOpen() ? FStore->PendingJobs() : std::vector<TStoredJob>{}; });
}

std::vector<TStoredMessage> TDurableStore::Unlogged() const {
  Drain();
  const std::lock_guard guard(FGuard);
  return Reading([&] { return IsOpen() ? FStore->Unlogged() : std::vector<TStoredMessage>{}; });
}

TStoredJob TDurableStore::Job(std::int64_t id) const {
  Drain();
  const std::lock_guard guard(FGuard);
  const std::int64_t inFile = Known(JobInFile(id), id, FPath, "job");
  if (!IsOpen()) throw EMessageStoreError(FPath + ": no store is open", EMessageStoreError::ekStorage);
  return Reading([&] { return FStore->Job(inFile); });
}

std::optional<TStoredJob> TDurableStore::JobByNumber(std::int64_t number) const {
  Drain();
  const std::lock_guard guard(FGuard);
  if (!IsOpen()) throw EMessageStoreError(FPath + ": no store is open", EMessageStoreError::ekStorage);
  return Reading([&] { return FStore->JobByNumber(number); });
}

bool TDurableStore::HasRepeatSince(const TStoredMessage& m, bool byNumber, double utcFrom,
                                   double utcBefore) const {
  const std::lock_guard guard(FGuard);
  for (const TChange& c : FHeld) {
    const TStoredMessage& h = c.Message;
    if (c.Op != TChange::opAdd || h.UtcTime < utcFrom || h.UtcTime >= utcBefore ||
        UpperCase(h.Source) != UpperCase(m.Source))
      continue;
    if (byNumber ? !m.MessageId.empty() && h.MessageId == m.MessageId
                 : Trim(h.Addressee) == Trim(m.Addressee) && h.MessageText == m.MessageText)
      return true;
  }
  return Reading([&] { return IsOpen() && FStore->HasRepeatSince(m, byNumber, utcFrom, utcBefore); });
}

bool TDurableStore::IsKept(std::int64_t id) const {
  const std::lock_guard guard(FGuard);
  return MessageInFile(id) != 0;
}

bool TDurableStore::TextIndexed() const {
  const std::lock_guard guard(FGuard);
  return FTextIndexed;
}

bool TDurableStore::ShortOfRoom() const {
  std::error_code ec;
  fs::path folder = fs::path(FPath).parent_path();
  if (folder.empty()) folder = ".";
  const fs::space_info room = fs::space(folder, ec);
  return ec || room.available < FLowRoom.load();
}

bool TDurableStore::Failing() const {
  const std::lock_guard guard(FGuard);
  return FFailing;
}

std::size_t TDurableStore::Waiting() const {
  const std::lock_guard guard(FGuard);
  return FHeld.size();
}

std::vector<std::string> TDurableStore::EndOfRunLines(const std::vector<std::int64_t>& listed) {
  Flush();
  const std::lock_guard guard(FGuard);
  std::size_t kept = 0;
  for (const std::int64_t id : listed) kept += IsKept(id) ? 1 : 0;
  std::vector<std::string> lines;
  if (!listed.empty()) lines.push_back(KeptForNextStartText(kept, listed.size() - kept));
  if (!FHeld.empty())
    lines.push_back("The message store " + FPath + " could not take " + std::to_string(FHeld.size()) +
                    " changes (printed, cleared, fetched); messages they concern may be listed again at the "
                    "next start");
  return lines;
}

}  // namespace qm
