// The logger's writer thread: it takes the queue in batches, writes them, and keeps what it
// could not write while writing fails.
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <stdexcept>
#include <system_error>
#include <utility>

#ifdef __linux__
#include <sched.h>
#include <sys/resource.h>
#include <unistd.h>
#endif

#include "base/KillPoint.h"
#include "base/PrivateFiles.h"
#include "log/EntryText.h"
#include "log/LogFiles.h"
#include "log/MessageLogger.h"

namespace qm {
namespace fs = std::filesystem;

namespace {

void ApplyPriorityTo([[maybe_unused]] long tid, [[maybe_unused]] TThreadPriority priority) {
#ifdef __linux__
  if (tid == 0) return;
  const pid_t id = static_cast<pid_t>(tid);
  sched_param param{};
  if (priority == tpIdle) {
    if (sched_setscheduler(id, SCHED_IDLE, &param) == 0) return;
  }
  if (priority == tpTimeCritical) {
    param.sched_priority = sched_get_priority_min(SCHED_RR);
    if (sched_setscheduler(id, SCHED_RR, &param) == 0) return;
    param.sched_priority = 0;
  }
  // Back to the ordinary policy, then the thread's own nice value. Raising the priority above
  // normal needs privileges; without them the thread keeps what it had.
  sched_setscheduler(id, SCHED_OTHER, &param);
  static constexpr int kNice[] = {19, 10, 5, 0, -5, -10, -15};
  setpriority(PRIO_PROCESS, static_cast<id_t>(id), kNice[static_cast<int>(priority)]);
#endif
}

long CurrentThreadId() {
#ifdef __linux__
  return static_cast<long>(::gettid());
#else
  return 0;
#endif
}

std::string RecoveryText(std::uint64_t dropped) {
  if (dropped == 0) return "Log writing resumed; no entries were lost.";
  if (dropped == 1) return "Log writing resumed; 1 entry was dropped while it failed.";
  return "Log writing resumed; " + std::to_string(dropped) + " entries were dropped while it failed.";
}

}  // namespace

bool TMessageLogger::WaitIdle(std::chrono::milliseconds Timeout) {
  std::uint64_t target = 0;
  {
    std::lock_guard<std::mutex> lock(FQueueLock);
    target = FQueuedCount;
  }
  std::unique_lock<std::mutex> lock(FDoneLock);
  FDoneCond.wait_for(lock, Timeout,
                     [&] { return (FDoneCount >= target && FWriterIdle) || FWriterFailed.load(); });
  return FDoneCount >= target && FWriterIdle && !FWriterFailed.load();
}

bool TMessageLogger::Written(std::uint64_t Number) const {
  std::lock_guard<std::mutex> lock(FDoneLock);
  return Number != 0 && !FEverDropped && FWrittenCount >= Number;
}

void TMessageLogger::AddDone(std::uint64_t Count) {
  if (Count == 0) return;
  {
    std::lock_guard<std::mutex> lock(FDoneLock);
    FDoneCount += Count;
    FWrittenCount += Count;
  }
  FDoneCond.notify_all();
}

void TMessageLogger::SetWriterIdle(bool Idle) {
  {
    std::lock_guard<std::mutex> lock(FDoneLock);
    FWriterIdle = Idle;
  }
  if (Idle) FDoneCond.notify_all();
}

void TMessageLogger::ApplyPriority() {
  std::lock_guard<std::mutex> lock(FPriorityLock);
  TThreadPriority priority;
  {
    std::lock_guard<std::mutex> settings(FSettingsLock);
    priority = FSettings.Priority;
  }
  ApplyPriorityTo(FWriterTid, priority);
}

void TMessageLogger::WriterRun() {
  {
    std::lock_guard<std::mutex> lock(FPriorityLock);
    FWriterTid = CurrentThreadId();
  }
  ApplyPriority();

  TLogQueue batch;
  std::size_t first = 0;  // the batch's first entry not yet written
  std::string buffer;
  std::chrono::milliseconds delay = kFirstRetry;
  std::string failure;
  try {
    for (;;) {
      {
        std::unique_lock<std::mutex> lock(FQueueLock);
        if (first == batch.Entries.size()) {
          batch.Clear();
          first = 0;
          bool slept = false;
          while (FQueue.Empty() && !FStopRequested) {
            FWriterSleeping = true;
            if (!slept) SetWriterIdle(true);
            slept = true;
            FQueueCond.wait(lock);
          }
          FWriterSleeping = false;
          if (slept) SetWriterIdle(false);
          if (FQueue.Empty()) break;
          if (FStopRequested && std::chrono::steady_clock::now() > FStopDeadline) break;
          batch.Swap(FQueue);
        } else if (FStopRequested && std::chrono::steady_clock::now() > FStopDeadline) {
          break;  // writing still fails: what is held is dropped
        }
      }
      const TSettings s = Snapshot();
      const std::size_t before = first;
      std::string error;
      try {
        WritePass(s, batch, first, buffer);
      } catch (const std::exception& e) {
        error = e.what();
      } catch (...) {
        error = "Unknown failure in the log writer";
      }
      AddDone(first - before);
      if (first > before && s.OnWritten && s.OwnerPost) s.OwnerPost(s.OnWritten);
      if (error.empty()) {
        delay = kFirstRetry;
        if (FWriterFailed.load()) Recover(s);
        if (s.Priority < tpHigher) std::this_thread::yield();
        continue;
      }
      if (!FWriterFailed.load()) {
        StartFailing(batch, first);
        Report(s, s.OnWriterError, std::move(error));
      }
      WaitToRetry(delay, batch, first);
      delay = std::min(delay * 2, kLastRetry);
    }
  } catch (const std::exception& e) {
    failure = e.what();
  } catch (...) {
    failure = "Unknown failure in the log writer";
  }
  {
    std::lock_guard<std::mutex> lock(FPriorityLock);
    FWriterTid = 0;
  }
  if (failure.empty()) return;

  // Only a failure outside a pass (out of memory) ends the writer; the bound still holds.
  {
    std::lock_guard<std::mutex> queue(FQueueLock);
    std::lock_guard<std::mutex> lock(FDoneLock);
    FWriterFailed.store(true);
  }
  FDoneCond.notify_all();
  const TSettings s = Snapshot();
  Report(s, s.OnWriterError, std::move(failure));
}

void TMessageLogger::Report(const TSettings& S, const TWriterErrorEvent& Handler, std::string Message) {
  try {
    FOwner.Run(S.OwnerPost, [handler = Handler, message = std::move(Message)] {
      if (handler) {
        handler(message);
      } else {
        std::fprintf(stderr, "%s\n", message.c_str());
      }
    });
  } catch (...) {
    // A handler that fails cannot be reported to itself.
  }
}

void TMessageLogger::StartFailing(TLogQueue& Batch, std::size_t First) {
  std::uint64_t dropped = 0;
  {
    std::lock_guard<std::mutex> queue(FQueueLock);
    dropped = Batch.Trim(First, FBoundEntries, FBoundBytes);
    FHeldEntries = Batch.Entries.size() - First;
    FHeldBytes = Batch.TextBytesFrom(First);
    dropped += FQueue.Trim(0, FBoundEntries - FHeldEntries, FBoundBytes - FHeldBytes);
    FDropped += dropped;
    std::lock_guard<std::mutex> lock(FDoneLock);
    FDoneCount += dropped;
    if (dropped > 0) FEverDropped = true;
    FWriterFailed.store(true);
  }
  FDoneCond.notify_all();
}

void TMessageLogger::WaitToRetry(std::chrono::milliseconds Delay, const TLogQueue& Batch, std::size_t First) {
  std::unique_lock<std::mutex> lock(FQueueLock);
  FHeldEntries = Batch.Entries.size() - First;
  FHeldBytes = Batch.TextBytesFrom(First);
  // Destruction wakes this wait and shortens it to the flush bound.
  const auto retryAt = std::chrono::steady_clock::now() + Delay;
  for (;;) {
    const auto until = FStopRequested ? std::min(retryAt, FStopDeadline) : retryAt;
    if (FQueueCond.wait_until(lock, until) == std::cv_status::timeout) break;
  }
}

void TMessageLogger::Recover(const TSettings& S) {
  std::uint64_t dropped = 0;
  {
    std::lock_guard<std::mutex> queue(FQueueLock);
    dropped = std::exchange(FDropped, 0);
    FHeldEntries = 0;
    FHeldBytes = 0;
    std::lock_guard<std::mutex> lock(FDoneLock);
    FWriterFailed.store(false);
  }
  Report(S, S.OnWriterRecovered, RecoveryText(dropped));
}

void TMessageLogger::TLogQueue::Clear() {
  // A burst may have grown the buffers far beyond the usual; give that memory back.
  constexpr std::size_t kKeepBytes = 4u << 20;
  if (Texts.capacity() > kKeepBytes) {
    std::string().swap(Texts);
    std::vector<TLogEntry>().swap(Entries);
  }
  Texts.clear();
  Entries.clear();
}

std::size_t TMessageLogger::TLogQueue::Trim(std::size_t First, std::size_t MaxEntries, std::size_t MaxBytes) {
  const std::size_t base = First < Entries.size() ? Entries[First].Offset : Texts.size();
  std::size_t keep = First;
  while (keep < Entries.size() && keep - First < MaxEntries &&
         Entries[keep].Offset + Entries[keep].Length - base <= MaxBytes) {
    ++keep;
  }
  const std::size_t dropped = Entries.size() - keep;
  if (dropped == 0) return 0;
  Entries.resize(keep);
  Texts.resize(keep == 0 ? 0 : Entries[keep - 1].Offset + Entries[keep - 1].Length);
  return dropped;
}

// A batch that failed and could not be cut back at once is cut back before anything else is
// written, so the next line does not continue a piece of one.
void TMessageLogger::CutBackFailedBatch() {
  if (FCutFile.empty()) return;
  std::error_code ec;
  const bool exists = fs::exists(FCutFile, ec);
  const std::uintmax_t size = exists ? fs::file_size(FCutFile, ec) : 0;
  if (!ec && exists && size > FCutSize) fs::resize_file(FCutFile, FCutSize, ec);
  if (ec) throw std::runtime_error("Cannot write to file \"" + FCutFile + "\". " + ec.message());
  FCutFile.clear();
}

// Writes the batch's entries from First on. A failure leaves whole lines only in the file and
// First at the first entry not written.
void TMessageLogger::WritePass(const TSettings& S, TLogQueue& Batch, std::size_t& First,
                               std::string& Buffer) {
  CutBackFailedBatch();
  const std::string name =
      BuildLogFileName(S.LogFilePath, S.LogFileName, S.UTC, S.DateFormat, S.ShowLocalZulu, S.Clock);
  const std::size_t slash = name.rfind(kLogSeparator);
  if (slash != std::string::npos && slash > 0) {
    const fs::path dir = name.substr(0, slash);
    std::error_code ec;
    if (!fs::is_directory(dir, ec)) {
      MakePrivateFolders(dir.string(), ec);
      if (ec)
        throw std::runtime_error("Unable to create directory \"" + dir.string() + "\". " + ec.message());
    }
  }

  std::error_code ec;
  bool existed = fs::exists(name, ec);
  if (ec) throw std::runtime_error("Cannot open file \"" + name + "\". " + ec.message());
  if (existed && S.MaxFileSize > 0) {
    const std::uintmax_t size = fs::file_size(name, ec);
    if (ec) throw std::runtime_error("Cannot read the size of file \"" + name + "\". " + ec.message());
    if (size > static_cast<std::uintmax_t>(S.MaxFileSize)) {
      RollOver(S, name);
      existed = fs::exists(name, ec);
    }
  }

  TAppendFile file(name);
  if (!file.IsOpen()) {
    throw std::runtime_error((existed ? "Cannot open file \"" : "Cannot create file \"") + name + "\". " +
                             ErrorText(errno));
  }
  std::int64_t whole = file.Size();  // the file ends with a whole line up to here
  if (whole < 0)
    throw std::runtime_error("Cannot read the size of file \"" + name + "\". " + ErrorText(errno));
  if (!existed) {
    // The call owns copies of what it uses: it may still be running on the owner's thread
    // when a handler there has destroyed the logger.
    if (S.OnFileCreated)
      FOwner.Run(S.OwnerPost, [this, handler = S.OnFileCreated, name] { handler(this, name); });
  }

  // Lines go out in chunks of about kChunkBytes: few writes, and a large batch does not need
  // its whole text formatted in memory at once. A chunk that fails is cut off again, whatever
  // part of it reached the file, and its entries stay for the next try.
  constexpr std::size_t kChunkBytes = 1u << 20;
  Buffer.clear();
  std::size_t next = First;  // Buffer holds the lines of the entries from First up to next
  const auto flush = [&] {
    if (!file.Write(Buffer.data(), Buffer.size())) {
      const int error = errno;
      if (!file.Truncate(whole)) {
        FCutFile = name;
        FCutSize = static_cast<std::uintmax_t>(whole);
      }
      throw std::runtime_error("Cannot write to file \"" + name + "\". " + ErrorText(error));
    }
    whole += static_cast<std::int64_t>(Buffer.size());
    KillPoint();  // in the file, not yet counted as written
    First = next;
    Buffer.clear();
  };
  std::string stamp;
  TDateTime stampTime = -1;
  bool stampUtc = false;
  const std::string_view texts = Batch.Texts;
  for (; next < Batch.Entries.size();) {
    const TLogEntry& entry = Batch.Entries[next++];
    // Entries of one burst share their millisecond, so the stamp is made once for them.
    if (stamp.empty() || entry.TimeStamp != stampTime || entry.UTC != stampUtc) {
      stampTime = entry.TimeStamp;
      stampUtc = entry.UTC;
      stamp = FormatDateTime(S.TimeStampFormat, stampTime);
      stamp += ZoneLetter(stampUtc, S.ShowLocalZulu);
    }
    AppendEntryLine(Buffer, S.LogEntryFormat, stamp, texts.substr(entry.Offset, entry.Length));
    Buffer += "\r\n";
    if (Buffer.size() >= kChunkBytes) flush();
  }
  if (!Buffer.empty()) flush();
  if (file.Close() != 0) {
    throw std::runtime_error("Cannot write to file \"" + name + "\". " + ErrorText(errno));
  }
}

void TMessageLogger::RollOver(const TSettings& S, const std::string& FileName) {
  RollOverFile(FileName, BuildRollOverFileName(S.LogFilePath, S.LogFileName, S.UTC, S.DateFormat, "hh:nn:ss",
                                               S.ShowLocalZulu, S.Clock));
}

}  // namespace qm
