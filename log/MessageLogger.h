// The message logger: stamps lines of text on the caller's thread and has a background writer
// append them to dated log files, rolling over by size and purging old files by age.
//
// An entry is "<stamp> text" on a line of its own. A line break inside the text (CR LF, CR or
// LF) ends the line and the rest follows on a line indented by two blanks, so no text can start
// a line that looks like an entry; one break at the very end of the text is dropped. Control
// bytes other than TAB, CR and LF (0x00-0x1F, 0x7F) are written "\xHH" (hex digits in upper
// case). A backslash is doubled where a backslash, an "x" or such an escape follows it, and left
// single elsewhere: "\\" always stands for one backslash and "\x" with two hex digits always
// for an escaped byte. Bytes from 0x80 up are written as they are.
//
// When writing fails (disk full, file or folder unwritable) the writer keeps the entries it
// could not write and tries again after 100 ms, waiting twice as long each time up to 5 s. It
// reports the failure once and the recovery once. A failed batch leaves only whole lines in the
// file. While it fails, at most kQueueBoundEntries (100,000) entries or kQueueBoundBytes
// (64 MiB) of text wait, whichever comes first; entries past that are dropped and counted. The
// newest go: the kept ones follow the last entry written without a gap, so the one gap falls
// where writing resumes, and the recovery message says how many entries it holds.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "base/Timing.h"
#include "log/LogFiles.h"
#include "log/OwnerHandOff.h"

namespace qm {

enum class TThreadPriority { tpIdle, tpLowest, tpLower, tpNormal, tpHigher, tpHighest, tpTimeCritical };
using enum TThreadPriority;

class TMessageLogger {
 public:
  using TEntryAddedEvent = std::function<void(const std::string& Entry)>;
  using TFileCreatedEvent = std::function<void(TMessageLogger* Sender, const std::string& FileName)>;
  using TWriterErrorEvent = std::function<void(const std::string& Message)>;
  using TWriterRecoveredEvent = std::function<void(const std::string& Message)>;
  using TWrittenEvent = std::function<void()>;
  using TOwnerCall = TOwnerHandOff::TCall;
  // Hands a call to the owner's thread without waiting for it to run.
  using TOwnerPost = TOwnerHandOff::TPost;

  // How long the destructor keeps writing the entries still queued before it drops the rest.
  static constexpr std::chrono::milliseconds kFlushBound{2000};
  // What may wait while writing fails, whichever is reached first (see SetQueueBound).
  static constexpr std::size_t kQueueBoundEntries = 100000;
  static constexpr std::size_t kQueueBoundBytes = 64u << 20;
  // The first wait before writing is tried again, doubled after each failed try up to the last.
  static constexpr std::chrono::milliseconds kFirstRetry{100};
  static constexpr std::chrono::milliseconds kLastRetry{5000};

  TMessageLogger();
  ~TMessageLogger();
  TMessageLogger(const TMessageLogger&) = delete;
  TMessageLogger& operator=(const TMessageLogger&) = delete;

  // Stamps the text with the current time and queues it; the caller never waits for the disk.
  // Thread-safe with respect to the writer; settings belong to the owner's thread. Returns the
  // entry's number for Written, or 0 when it was dropped at the bound.
  std::uint64_t LogMessage(std::string_view Text);
  // Whether entry `Number` (as LogMessage returned it) is in the file, where a kill can no
  // longer take it. Once any entry was dropped the numbers no longer say which are written,
  // so this answers false from then on: the caller logs those again rather than miss one.
  bool Written(std::uint64_t Number) const;

  std::string DateFormat() const;
  void SetDateFormat(std::string_view Value);
  std::string LogEntryFormat() const;
  void SetLogEntryFormat(std::string_view Value);
  std::string LogFileName() const;
  void SetLogFileName(std::string_view Value);  // stored without its extension
  std::string LogFilePath() const;
  void SetLogFilePath(std::string_view Value);  // "\" becomes "/", a trailing "/" is added
  std::int32_t MaxFileSize() const;
  void SetMaxFileSize(std::int32_t Value);
  std::string PhysicalLogFileName() const;
  TThreadPriority Priority() const;
  void SetPriority(TThreadPriority Value);  // applied to a running writer at once, best effort
  std::int32_t PurgeFileDays() const;
  void SetPurgeFileDays(std::int32_t Value);
  bool ShowLocalZulu() const;
  void SetShowLocalZulu(bool Value);
  std::string TimeStampFormat() const;
  void SetTimeStampFormat(std::string_view Value);
  bool UTC() const;
  void SetUTC(bool Value);

  // Runs on the caller's thread of LogMessage with the entry as the file gets it, without the
  // final CR LF.
  void SetOnEntryAdded(TEntryAddedEvent Handler);
  // Runs on the owner's thread (see SetOwnerPost) while the writer waits, before any line is written.
  void SetOnFileCreated(TFileCreatedEvent Handler);
  // Runs on the owner's thread with the message of the first failure after writing worked
  // (again); the writer keeps trying meanwhile. Unassigned, the message goes to standard error.
  void SetOnWriterError(TWriterErrorEvent Handler);
  // Runs on the owner's thread once writing works again after a failure, with a sentence that
  // says so and how many entries were dropped meanwhile. Unassigned, it goes to standard error.
  void SetOnWriterRecovered(TWriterRecoveredEvent Handler);
  // Posted to the owner's thread (see SetOwnerPost), without waiting, after each pass that put
  // lines in the file: Written() tells which.
  void SetOnWritten(TWrittenEvent Handler);
  // The most entries and text bytes kept while writing fails; thread-safe. Tests make it small.
  void SetQueueBound(std::size_t Entries, std::size_t Bytes);
  // Unset, owner calls run directly on the writer's thread.
  void SetOwnerPost(TOwnerPost Post);
  void SetClock(TClock Clock);

  // Deletes this logger's files in LogFilePath last written before Cutoff (local time).
  // Failures end the purge silently.
  void PurgeLogFiles(TDateTime Cutoff);

  // Waits until every entry queued before the call has been written (or dropped at the bound)
  // and the writer sleeps again. False on time-out, and at once while writing fails.
  bool WaitIdle(std::chrono::milliseconds Timeout);
  // True from a failed write until writing works again.
  bool WriterFailed() const { return FWriterFailed.load(); }

  // The local day number of the last purge, shared by every logger of the process.
  static int LastPurgeDay();
  static void ResetLastPurgeDay();

 private:
  struct TSettings {
    std::string DateFormat = "yy-mm-dd";
    std::string LogEntryFormat = "<%s> %s";
    std::string LogFileName;
    std::string LogFilePath;
    std::int32_t MaxFileSize = 0;
    TThreadPriority Priority = tpLower;
    std::int32_t PurgeFileDays = 0;
    bool ShowLocalZulu = true;
    std::string TimeStampFormat = "hh:nn:ss.zzz";
    bool UTC = false;
    TEntryAddedEvent OnEntryAdded;
    TFileCreatedEvent OnFileCreated;
    TWriterErrorEvent OnWriterError;
    TWriterRecoveredEvent OnWriterRecovered;
    TWrittenEvent OnWritten;
    TOwnerPost OwnerPost;
    TClock Clock = CurrentDateTime;
  };
  // Texts sit end to end in one buffer, so queueing an entry allocates nothing in the common
  // case and the writer frees nothing per line.
  struct TLogEntry {
    TDateTime TimeStamp;
    std::size_t Offset;
    std::size_t Length;
    bool UTC;
  };
  struct TLogQueue {
    std::vector<TLogEntry> Entries;
    std::string Texts;
    bool Empty() const { return Entries.empty(); }
    std::size_t TextBytesFrom(std::size_t First) const {
      return First < Entries.size() ? Texts.size() - Entries[First].Offset : 0;
    }
    // Keeps the entries before First and as many from First on as fit in MaxEntries and
    // MaxBytes; drops the rest and returns how many went.
    std::size_t Trim(std::size_t First, std::size_t MaxEntries, std::size_t MaxBytes);
    void Swap(TLogQueue& Other) {
      Entries.swap(Other.Entries);
      Texts.swap(Other.Texts);
    }
    void Clear();
  };
  template <typename T, typename V>
  void Assign(T TSettings::*Field, V&& Value) {
    std::lock_guard<std::mutex> lock(FSettingsLock);
    FSettings.*Field = std::forward<V>(Value);
  }
  TSettings Snapshot() const;
  void WriterRun();
  void WritePass(const TSettings& S, TLogQueue& Batch, std::size_t& First, std::string& Buffer);
  void CutBackFailedBatch();
  void StartFailing(TLogQueue& Batch, std::size_t First);
  void WaitToRetry(std::chrono::milliseconds Delay, const TLogQueue& Batch, std::size_t First);
  void Recover(const TSettings& S);
  void Report(const TSettings& S, const TWriterErrorEvent& Handler, std::string Message);
  void AddDone(std::uint64_t Count);
  void RollOver(const TSettings& S, const std::string& FileName);
  void ApplyPriority();
  void SetWriterIdle(bool Idle);

  // Written on the owner's thread under FSettingsLock; the writer copies them once a pass.
  mutable std::mutex FSettingsLock;
  TSettings FSettings;

  // The queue: FQueueLock guards only the fields below it up to FWriter.
  std::mutex FQueueLock;
  std::condition_variable FQueueCond;
  TLogQueue FQueue;
  bool FWriterSleeping = false;
  bool FStopRequested = false;
  std::uint64_t FQueuedCount = 0;
  std::chrono::steady_clock::time_point FStopDeadline{};
  std::size_t FBoundEntries = kQueueBoundEntries;
  std::size_t FBoundBytes = kQueueBoundBytes;
  // While writing fails: what the writer holds besides the queue, and what was dropped.
  std::size_t FHeldEntries = 0;
  std::size_t FHeldBytes = 0;
  std::uint64_t FDropped = 0;
  std::thread FWriter;

  mutable std::mutex FDoneLock;
  std::condition_variable FDoneCond;
  std::uint64_t FDoneCount = 0;     // entries written or dropped at the bound
  std::uint64_t FWrittenCount = 0;  // entries written, in the order they were queued
  bool FEverDropped = false;
  bool FWriterIdle = false;  // asleep, waiting for entries
  // Also changed under FQueueLock, so LogMessage applies the bound from the failure on.
  std::atomic<bool> FWriterFailed{false};

  TOwnerHandOff FOwner;

  std::mutex FPriorityLock;
  long FWriterTid = 0;  // the writer's kernel thread id once it runs, for its priority
  // A file that may still hold part of a line after a failed batch, and its size before it.
  std::string FCutFile;
  std::uintmax_t FCutSize = 0;
};

}  // namespace qm
