#include "log/MessageLogger.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <exception>
#include <filesystem>
#include <stdexcept>
#include <system_error>
#include <utility>

#include <fcntl.h>
#ifdef _WIN32
#include <io.h>
#include <sys/stat.h>
#else
#include <unistd.h>
#endif
#ifdef __linux__
#include <sched.h>
#include <sys/resource.h>
#endif

namespace qm {
namespace fs = std::filesystem;

namespace {

constexpr char kSeparator = '/';
constexpr int kRollOverNames = 9;  // the plain roll-over name, then " (2)" to " (9)"

std::atomic<int> gLastPurgeDay{0};
// With UTC stamps, the UTC time before which the local day cannot have changed, so most entries
// need no second reading of the clock.
std::atomic<double> gNoNewDayBeforeUtc{0};

// The position of the extension's dot in a file name, or npos when it has none.
std::size_t ExtensionDot(std::string_view name) {
  const std::size_t dot = name.rfind('.');
  const std::size_t slash = name.rfind(kSeparator);
  if (dot == std::string_view::npos || (slash != std::string_view::npos && dot < slash)) {
    return std::string_view::npos;
  }
  return dot;
}

std::string_view WithoutExtension(std::string_view name) {
  const std::size_t dot = ExtensionDot(name);
  return dot == std::string_view::npos ? name : name.substr(0, dot);
}

std::string_view ExtensionOrLog(std::string_view name) {
  const std::size_t dot = ExtensionDot(name);
  if (dot == std::string_view::npos || dot + 1 == name.size()) return "log";
  return name.substr(dot + 1);
}

const char* ZoneLetter(bool utc, bool shown) {
  if (!shown) return "";
  return utc ? "Z" : "L";
}

bool WrittenAsEscape(unsigned char c) {
  return (c < 0x20 && c != '\t' && c != '\r' && c != '\n') || c == 0x7F;
}

// Whether the text holds nothing to escape and no break: most texts, copied whole. The loop
// has no early exit so that the compiler can check many bytes at a time.
bool IsPlain(std::string_view text) {
  unsigned care = 0;
  for (const char ch : text) {
    const auto c = static_cast<unsigned char>(ch);
    care |=
        static_cast<unsigned>(c < 0x20) | static_cast<unsigned>(c == 0x7F) | static_cast<unsigned>(c == '\\');
  }
  return care == 0;
}

// The text of one entry as the header describes it: breaks indent, control bytes escape.
void AppendText(std::string& out, std::string_view text) {
  if (IsPlain(text)) {
    out += text;
    return;
  }
  if (!text.empty() && text.back() == '\n') text.remove_suffix(1);
  if (!text.empty() && text.back() == '\r') text.remove_suffix(1);
  static constexpr char kHex[] = "0123456789ABCDEF";
  const std::size_t n = text.size();
  std::size_t run = 0;  // start of the bytes not yet copied
  for (std::size_t i = 0; i < n; ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    if ((c >= 0x20 && c != 0x7F && c != '\\') || c == '\t') continue;
    out.append(text.data() + run, i - run);
    run = i + 1;
    if (c == '\\') {
      out += '\\';
      if (i + 1 < n) {
        const auto next = static_cast<unsigned char>(text[i + 1]);
        if (next == '\\' || next == 'x' || WrittenAsEscape(next)) out += '\\';
      }
    } else if (c == '\r' || c == '\n') {
      if (c == '\r' && i + 1 < n && text[i + 1] == '\n') run = ++i + 1;
      out += "\r\n  ";
    } else {
      out += "\\x";
      out += kHex[c >> 4];
      out += kHex[c & 15];
    }
  }
  out.append(text.data() + run, n - run);
}

// Puts the stamp and the text in for the first two "%s"; "%%" stands for "%". Other
// characters, further "%s" included, are copied, so no format can read past its arguments.
void AppendLine(std::string& out, std::string_view format, std::string_view stamp, std::string_view text) {
  int used = 0;
  for (std::size_t i = 0; i < format.size(); ++i) {
    if (format[i] == '%' && i + 1 < format.size()) {
      if (format[i + 1] == 's' && used < 2) {
        if (used++ == 0) {
          out += stamp;
        } else {
          AppendText(out, text);
        }
        ++i;
        continue;
      }
      if (format[i + 1] == '%') {
        out += '%';
        ++i;
        continue;
      }
    }
    out += format[i];
  }
}

std::string ErrorText(int error) {
  return std::error_code(error, std::generic_category()).message();
}

TDateTime LocalFileTime(fs::file_time_type when) {
  const auto sys = std::chrono::file_clock::to_sys(when);
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(sys.time_since_epoch()).count();
  const std::time_t secs = static_cast<std::time_t>(ms / 1000);
  std::tm tm{};
  localtime_r(&secs, &tm);
  return EncodeDateTime({tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min,
                         tm.tm_sec > 59 ? 59 : tm.tm_sec, static_cast<int>(ms % 1000)});
}

// A rename that never replaces an existing file; false with errno set on failure.
bool RenameNoReplace(const std::string& from, const std::string& to) {
#if defined(__linux__) && defined(RENAME_NOREPLACE)
  if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return true;
  if (errno != EINVAL && errno != ENOSYS) return false;  // else the file system lacks the flag
#endif
  std::error_code ec;
  if (fs::exists(to, ec) || ec) {
    errno = EEXIST;
    return false;
  }
  return std::rename(from.c_str(), to.c_str()) == 0;
}

std::string NumberedName(const std::string& name, int number) {
  const std::size_t dot = ExtensionDot(name);
  const std::string tag = " (" + std::to_string(number) + ")";
  if (dot == std::string::npos) return name + tag;
  return name.substr(0, dot) + tag + name.substr(dot);
}

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
  setpriority(PRIO_PROCESS, static_cast<id_t>(id), kNice[priority]);
#endif
}

long CurrentThreadId() {
#ifdef __linux__
  return static_cast<long>(::gettid());
#else
  return 0;
#endif
}

void DefaultLogLocation(std::string& name, std::string& path) {
  name = "Quillmark.log";
  path.clear();
#ifdef __linux__
  std::error_code ec;
  const fs::path exe = fs::read_symlink("/proc/self/exe", ec);
  if (ec || exe.filename().empty()) return;
  name = fs::path(exe.filename()).replace_extension(".log").string();
  path = exe.parent_path().string();
  if (path.empty() || path.back() != kSeparator) path += kSeparator;
#endif
}

// A log file opened for appending through its descriptor: no library buffer holds back part
// of a line, and a batch that failed can be cut back to the file's size before it.
class TAppendFile {
 public:
  explicit TAppendFile(const std::string& name) {
#ifdef _WIN32
    FFd = ::_open(name.c_str(), _O_WRONLY | _O_APPEND | _O_CREAT | _O_BINARY, _S_IREAD | _S_IWRITE);
#else
    FFd = ::open(name.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0666);
#endif
  }
  ~TAppendFile() {
    if (FFd >= 0) Close();
  }
  TAppendFile(const TAppendFile&) = delete;
  TAppendFile& operator=(const TAppendFile&) = delete;
  bool IsOpen() const {
    return FFd >= 0;
  }
  // The size in bytes, or -1 with errno set.
  std::int64_t Size() const {
#ifdef _WIN32
    return ::_lseeki64(FFd, 0, SEEK_END);
#else
    return ::lseek(FFd, 0, SEEK_END);
#endif
  }
  // Every byte, or false with errno set.
  bool Write(const char* data, std::size_t size) {
    while (size > 0) {
#ifdef _WIN32
      const auto done = ::_write(FFd, data, static_cast<unsigned>(std::min<std::size_t>(size, 1u << 30)));
#else
      const auto done = ::write(FFd, data, size);
#endif
      if (done < 0 && errno == EINTR) continue;
      if (done <= 0) {
        if (done == 0) errno = ENOSPC;
        return false;
      }
      data += done;
      size -= static_cast<std::size_t>(done);
    }
    return true;
  }
  bool Truncate(std::int64_t size) {
#ifdef _WIN32
    return ::_chsize_s(FFd, size) == 0;
#else
    return ::ftruncate(FFd, static_cast<off_t>(size)) == 0;
#endif
  }
  int Close() {
#ifdef _WIN32
    return ::_close(std::exchange(FFd, -1));
#else
    return ::close(std::exchange(FFd, -1));
#endif
  }

 private:
  int FFd = -1;
};

std::string RecoveryText(std::uint64_t dropped) {
  if (dropped == 0) return "Log writing resumed; no entries were lost.";
  if (dropped == 1) return "Log writing resumed; 1 entry was dropped while it failed.";
  return "Log writing resumed; " + std::to_string(dropped) + " entries were dropped while it failed.";
}

}  // namespace

std::string BuildLogFileName(std::string_view Path, std::string_view FileName, bool UTC,
                             std::string_view DatePattern, bool ZoneFlag, const TClock& Clock) {
  const std::string date = FormatDateTime(DatePattern, Clock(UTC ? tfUTC : tfLocal));
  std::string out(Path);
  out.append(WithoutExtension(FileName)).append(" ").append(date).append(ZoneLetter(UTC, ZoneFlag));
  out.append(".").append(ExtensionOrLog(FileName));
  return out;
}

std::string BuildRollOverFileName(std::string_view Path, std::string_view FileName, bool UTC,
                                  std::string_view DatePattern, std::string_view TimePattern, bool ZoneFlag,
                                  const TClock& Clock) {
  const TTimeFormat format = UTC ? tfUTC : tfLocal;
  const std::string date = FormatDateTime(DatePattern, Clock(format));
  const std::string time = FormatDateTime(TimePattern, Clock(format));
  std::string out(Path);
  out.append(WithoutExtension(FileName)).append(" ").append(date).append(" ").append(time);
  out.append(ZoneLetter(UTC, ZoneFlag)).append(".").append(ExtensionOrLog(FileName));
  return out;
}

// Posted calls share this with the logger, so one that runs after the logger is gone finds
// Closed set and does nothing.
struct TMessageLogger::TOwnerLink {
  std::mutex Lock;
  std::condition_variable Cond;
  bool Closed = false;
  bool Running = false;
  std::thread::id RunningOn;
  std::uint64_t Posted = 0;
  std::uint64_t Finished = 0;
  std::exception_ptr Failure;
};

TMessageLogger::TMessageLogger() : FOwnerLink(std::make_shared<TOwnerLink>()) {
  DefaultLogLocation(FSettings.LogFileName, FSettings.LogFilePath);
}

TMessageLogger::~TMessageLogger() {
  {
    std::lock_guard<std::mutex> lock(FQueueLock);
    FStopRequested = true;
    FStopDeadline = std::chrono::steady_clock::now() + kFlushBound;
  }
  FQueueCond.notify_all();
  {
    // The owner may be the thread destroying the logger: no posted call is waited for from now
    // on, and one already running elsewhere is let finish, as it may reach into this logger.
    std::unique_lock<std::mutex> lock(FOwnerLink->Lock);
    FOwnerLink->Closed = true;
    FOwnerLink->Cond.notify_all();
    FOwnerLink->Cond.wait(
        lock, [this] { return !FOwnerLink->Running || FOwnerLink->RunningOn == std::this_thread::get_id(); });
  }
  if (FWriter.joinable()) FWriter.join();
}

void TMessageLogger::LogMessage(std::string_view Text) {
  const bool utc = FSettings.UTC;
  const TDateTime stamp = FSettings.Clock(utc ? tfUTC : tfLocal);
  bool wake = false;
  {
    std::lock_guard<std::mutex> lock(FQueueLock);
    if (FWriterFailed.load(std::memory_order_relaxed) &&
        (FQueue.Entries.size() + FHeldEntries >= FBoundEntries ||
         FQueue.Texts.size() + FHeldBytes + Text.size() > FBoundBytes)) {
      ++FDropped;
    } else {
      FQueue.Entries.push_back({stamp, FQueue.Texts.size(), Text.size(), utc});
      FQueue.Texts.append(Text);
      ++FQueuedCount;
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
    AppendLine(line, FSettings.LogEntryFormat, stampText, Text);
    FSettings.OnEntryAdded(line);
  }

  if (FSettings.PurgeFileDays > 0 && !(utc && stamp < gNoNewDayBeforeUtc.load(std::memory_order_relaxed))) {
    const TDateTime local = utc ? FSettings.Clock(tfLocal) : stamp;
    const int today = static_cast<int>(std::floor(local));
    // A change of offset at local midnight may delay the check by that change, at most an hour.
    if (utc) gNoNewDayBeforeUtc.store(stamp + (today + 1 - local), std::memory_order_relaxed);
    int last = gLastPurgeDay.load();
    if (today > last && gLastPurgeDay.compare_exchange_strong(last, today)) {
      PurgeLogFiles(local - FSettings.PurgeFileDays);
    }
  }
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
    if (c == '\\') c = kSeparator;
  }
  if (!path.empty() && path.back() != kSeparator) path += kSeparator;
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
  try {
    std::string path, base;
    {
      std::lock_guard<std::mutex> lock(FSettingsLock);
      path = FSettings.LogFilePath;
      base = WithoutExtension(FSettings.LogFileName);
    }
    std::error_code ec;
    if (path.empty() || !fs::is_directory(path, ec)) return;
    std::vector<fs::path> old;
    for (fs::directory_iterator it(path, ec), end; !ec && it != end; it.increment(ec)) {
      const std::string name = it->path().filename().string();
      if (name.size() < base.size() + 4 || name.compare(0, base.size(), base) != 0 ||
          name.compare(name.size() - 4, 4, ".log") != 0 || !it->is_regular_file(ec)) {
        continue;
      }
      const auto written = it->last_write_time(ec);
      if (ec) return;
      if (LocalFileTime(written) < Cutoff) old.push_back(it->path());
    }
    if (ec) return;
    for (const fs::path& file : old) {
      if (!fs::remove(file, ec)) return;
    }
  } catch (...) {
    // A purge that fails leaves the files for the next day's attempt.
  }
}

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

void TMessageLogger::AddDone(std::uint64_t Count) {
  if (Count == 0) return;
  {
    std::lock_guard<std::mutex> lock(FDoneLock);
    FDoneCount += Count;
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

bool TMessageLogger::RunOnOwner(const TSettings& S, const TOwnerCall& Call) {
  if (!S.OwnerPost) {
    Call();
    return true;
  }
  const std::shared_ptr<TOwnerLink> link = FOwnerLink;
  std::uint64_t ticket = 0;
  {
    std::lock_guard<std::mutex> lock(link->Lock);
    if (link->Closed) return false;
    ticket = ++link->Posted;
  }
  try {
    S.OwnerPost([link, Call, ticket] {
      {
        std::lock_guard<std::mutex> lock(link->Lock);
        if (link->Closed) return;
        link->Running = true;
        link->RunningOn = std::this_thread::get_id();
      }
      std::exception_ptr failure;
      try {
        Call();
      } catch (...) {
        failure = std::current_exception();
      }
      {
        std::lock_guard<std::mutex> lock(link->Lock);
        link->Running = false;
        link->Finished = ticket;
        link->Failure = failure;
      }
      link->Cond.notify_all();
    });
  } catch (...) {
    return false;  // the owner cannot take calls any more
  }
  std::unique_lock<std::mutex> lock(link->Lock);
  link->Cond.wait(lock, [&] { return link->Closed || link->Finished >= ticket; });
  if (link->Finished < ticket) return false;
  if (std::exception_ptr failure = std::exchange(link->Failure, nullptr)) {
    lock.unlock();
    std::rethrow_exception(failure);
  }
  return true;
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
    RunOnOwner(S, [handler = Handler, message = std::move(Message)] {
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
  const std::size_t slash = name.rfind(kSeparator);
  if (slash != std::string::npos && slash > 0) {
    const fs::path dir = name.substr(0, slash);
    std::error_code ec;
    if (!fs::is_directory(dir, ec)) {
      fs::create_directories(dir, ec);
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
    FLastCreatedFile = name;
    // The call owns copies of what it uses: it may still be running on the owner's thread
    // when a handler there has destroyed the logger.
    if (S.OnFileCreated) RunOnOwner(S, [this, handler = S.OnFileCreated, name] { handler(this, name); });
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
    AppendLine(Buffer, S.LogEntryFormat, stamp, texts.substr(entry.Offset, entry.Length));
    Buffer += "\r\n";
    if (Buffer.size() >= kChunkBytes) flush();
  }
  if (!Buffer.empty()) flush();
  if (file.Close() != 0) {
    throw std::runtime_error("Cannot write to file \"" + name + "\". " + ErrorText(errno));
  }
}

void TMessageLogger::RollOver(const TSettings& S, const std::string& FileName) {
  const std::string target = BuildRollOverFileName(S.LogFilePath, S.LogFileName, S.UTC, S.DateFormat,
                                                   "hh:nn:ss", S.ShowLocalZulu, S.Clock);
  for (int n = 1; n <= kRollOverNames; ++n) {
    if (RenameNoReplace(FileName, n == 1 ? target : NumberedName(target, n))) return;
    if (errno != EEXIST) return;  // another name would fail the same way
  }
  // No free name: the day's file keeps growing rather than being lost.
}

}  // namespace qm
