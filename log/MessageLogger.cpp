// The logger's owner side: stamping and queueing entries, settings and the daily purge. The
// writer thread is in LogWriter.cpp, the file handling in LogFiles.cpp.
#include "log/MessageLogger.h"

#include <cmath>
#include <utility>

#include "log/EntryText.h"
#include "log/LogFiles.h"

namespace qm {

namespace {

std::atomic<int> gLastPurgeDay{0};
// With UTC stamps, the UTC time before which the local day cannot have changed, so most entries
// need no second reading of the clock.
std::atomic<double> gNoNewDayBeforeUtc{0};

}  // namespace

TMessageLogger::TMessageLogger() {
  DefaultLogLocation(FSettings.LogFileName, FSettings.LogFilePath);
}

TMessageLogger::~TMessageLogger() {
  {
    std::lock_guard<std::mutex> lock(FQueueLock);
    FStopRequested = true;
    FStopDeadline = std::chrono::steady_clock::now() + kFlushBound;
  }
  FQueueCond.notify_all();
  FOwner.Close();
  if (FWriter.joinable()) FWriter.join();
}

std::uint64_t TMessageLogger::LogMessage(std::string_view Text) {
  const bool utc = FSettings.UTC;
  const TDateTime stamp = FSettings.Clock(utc ? tfUTC : tfLocal);
  bool wake = false;
  std::uint64_t number = 0;
  {
    std::lock_guard<std::mutex> lock(FQueueLock);
    if (FWriterFailed.load(std::memory_order_relaxed) &&
        (FQueue.Entries.size() + FHeldEntries >= FBoundEntries ||
         FQueue.Texts.size() + FHeldBytes + Text.size() > FBoundBytes)) {
      ++FDropped;
      std::lock_guard<std::mutex> done(FDoneLock);
      FEverDropped = true;
    } else {
      FQueue.Entries.push_back({stamp, FQueue.Texts.size(), Text.size(), utc});
      FQueue.Texts.append(Text);
      number = ++FQueuedCount;
      if (!FWriter.joinable()) {
        FWriter = std::thread(&TMessageLogger::WriterRun, this);
      } else if (FWriterSleeping) {
        FWriterSleeping = false;  // one wake-up per sleep, however many entries follow
        wake = true;
      }
    }
  }
  if (wake) FQueueCond.notify_one();

  if (FSettings.OnEntryAdded) {
    std::string line;
    const std::string stampText =
        FormatDateTime(FSettings.TimeStampFormat, stamp) + ZoneLetter(utc, FSettings.ShowLocalZulu);
    AppendEntryLine(line, FSettings.LogEntryFormat, stampText, Text);
    FSettings.OnEntryAdded(line);
  }

  if (FSettings.PurgeFileDays > 0 && !(utc && stamp < gNoNewDayBeforeUtc.load(std::memory_order_relaxed))) {
    const TDateTime local = utc ? FSettings.Clock(tfLocal) : stamp;
    const int today = static_cast<int>(std::floor(local));
    // A change of offset at local midnight may delay the check by that change, at most an hour.
    if (utc) gNoNewDayBeforeUtc.store(stamp + (today + 1 - local), std::memory_order_relaxed);
    int last = gLastPurgeDay.load();
    // A day before the last purge's: the clock was set back (or had jumped ahead); purge again.
    if (today != last && gLastPurgeDay.compare_exchange_strong(last, today)) {
      PurgeLogFiles(local - FSettings.PurgeFileDays);
    }
  }
  return number;
}

TMessageLogger::TSettings TMessageLogger::Snapshot() const {
  std::lock_guard<std::mutex> lock(FSettingsLock);
  return FSettings;
}

std::string TMessageLogger::DateFormat() const {
  return FSettings.DateFormat;
}
std::string TMessageLogger::LogEntryFormat() const {
  return FSettings.LogEntryFormat;
}
std::string TMessageLogger::LogFileName() const {
  return FSettings.LogFileName;
}
std::string TMessageLogger::LogFilePath() const {
  return FSettings.LogFilePath;
}
std::int32_t TMessageLogger::MaxFileSize() const {
  return FSettings.MaxFileSize;
}
TThreadPriority TMessageLogger::Priority() const {
  return FSettings.Priority;
}
std::int32_t TMessageLogger::PurgeFileDays() const {
  return FSettings.PurgeFileDays;
}
bool TMessageLogger::ShowLocalZulu() const {
  return FSettings.ShowLocalZulu;
}
std::string TMessageLogger::TimeStampFormat() const {
  return FSettings.TimeStampFormat;
}
bool TMessageLogger::UTC() const {
  return FSettings.UTC;
}

void TMessageLogger::SetDateFormat(std::string_view Value) {
  Assign(&TSettings::DateFormat, Value);
}

void TMessageLogger::SetLogEntryFormat(std::string_view Value) {
  Assign(&TSettings::LogEntryFormat, Value);
}

void TMessageLogger::SetLogFileName(std::string_view Value) {
  std::lock_guard<std::mutex> lock(FSettingsLock);
  FSettings.LogFileName = WithoutExtension(Value);
}

void TMessageLogger::SetLogFilePath(std::string_view Value) {
  std::string path(Value);
  for (char& c : path) {
    if (c == '\\') c = kLogSeparator;
  }
  if (!path.empty() && path.back() != kLogSeparator) path += kLogSeparator;
  std::lock_guard<std::mutex> lock(FSettingsLock);
  FSettings.LogFilePath = std::move(path);
}

void TMessageLogger::SetMaxFileSize(std::int32_t Value) {
  Assign(&TSettings::MaxFileSize, Value);
}

void TMessageLogger::SetPriority(TThreadPriority Value) {
  {
    std::lock_guard<std::mutex> lock(FSettingsLock);
    FSettings.Priority = Value;
  }
  ApplyPriority();
}

void TMessageLogger::SetPurgeFileDays(std::int32_t Value) {
  Assign(&TSettings::PurgeFileDays, Value);
}

void TMessageLogger::SetShowLocalZulu(bool Value) {
  Assign(&TSettings::ShowLocalZulu, Value);
}

void TMessageLogger::SetTimeStampFormat(std::string_view Value) {
  Assign(&TSettings::TimeStampFormat, Value);
}

void TMessageLogger::SetUTC(bool Value) {
  Assign(&TSettings::UTC, Value);
}

void TMessageLogger::SetOnEntryAdded(TEntryAddedEvent Handler) {
  Assign(&TSettings::OnEntryAdded, std::move(Handler));
}

void TMessageLogger::SetOnFileCreated(TFileCreatedEvent Handler) {
  Assign(&TSettings::OnFileCreated, std::move(Handler));
}

void TMessageLogger::SetOnWriterError(TWriterErrorEvent Handler) {
  Assign(&TSettings::OnWriterError, std::move(Handler));
}

void TMessageLogger::SetOnWriterRecovered(TWriterRecoveredEvent Handler) {
  Assign(&TSettings::OnWriterRecovered, std::move(Handler));
}

void TMessageLogger::SetOnWritten(TWrittenEvent Handler) {
  Assign(&TSettings::OnWritten, std::move(Handler));
}

void TMessageLogger::SetQueueBound(std::size_t Entries, std::size_t Bytes) {
  std::lock_guard<std::mutex> lock(FQueueLock);
  FBoundEntries = Entries;
  FBoundBytes = Bytes;
}

void TMessageLogger::SetOwnerPost(TOwnerPost Post) {
  Assign(&TSettings::OwnerPost, std::move(Post));
}

void TMessageLogger::SetClock(TClock Clock) {
  std::lock_guard<std::mutex> lock(FSettingsLock);
  FSettings.Clock = Clock ? std::move(Clock) : TClock(CurrentDateTime);
}

std::string TMessageLogger::PhysicalLogFileName() const {
  const TSettings s = Snapshot();
  return BuildLogFileName(s.LogFilePath, s.LogFileName, s.UTC, s.DateFormat, s.ShowLocalZulu, s.Clock);
}

int TMessageLogger::LastPurgeDay() {
  return gLastPurgeDay.load();
}
void TMessageLogger::ResetLastPurgeDay() {
  gLastPurgeDay.store(0);
  gNoNewDayBeforeUtc.store(0);
}

void TMessageLogger::PurgeLogFiles(TDateTime Cutoff) {
  std::string path, name;
  {
    std::lock_guard<std::mutex> lock(FSettingsLock);
    path = FSettings.LogFilePath;
    name = FSettings.LogFileName;
  }
  PurgeOldLogFiles(path, name, Cutoff);
}

}  // namespace qm
