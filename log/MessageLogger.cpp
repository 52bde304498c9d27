#include "MessageLogger.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <exception>
#include <filesystem>
#include <stdexcept>
#include <system_error>
#include <utility>

#ifdef __linux__
#include <fcntl.h>
#include <sched.h>
#include <sys/resource.h>
#include <unistd.h>
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

// Puts the stamp and the text in for the first two "%s"; "%%" stands for "%". Other
// characters, further "%s" included, are copied, so no format can read past its arguments.
void AppendLine(std::string& out, std::string_view format, std::string_view stamp, std::string_view text) {
  int used = 0;
  for (std::size_t i = 0; i < format.size(); ++i) {
    if (format[i] == '%' && i + 1 < format.size()) {
      if (format[i + 1] == 's' && used < 2) {
        out += used++ == 0 ? stamp : text;
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

class TFileCloser {
 public:
  explicit TFileCloser(std::FILE* f) : F(f) {}
  ~TFileCloser() {
    if (F != nullptr) std::fclose(F);
  }
  TFileCloser(const TFileCloser&) = delete;
  TFileCloser& operator=(const TFileCloser&) = delete;
  std::FILE* Get() const { return F; }
  int Close() { return std::fclose(std::exchange(F, nullptr)); }

 private:
  std::FILE* F;
};

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
  if (!FWriterFailed.load(std::memory_order_relaxed)) {
    bool wake = false;
    {
      std::lock_guard<std::mutex> lock(FQueueLock);
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
    if (wake) FQueueCond.notify_one();
  }

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
                     [&] { return (FWrittenCount >= target && FWriterIdle) || FWriterFailed.load(); });
  return FWrittenCount >= target && FWriterIdle && !FWriterFailed.load();
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
  std::string buffer;
  std::string failure;
  try {
    for (;;) {
      {
        std::unique_lock<std::mutex> lock(FQueueLock);
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
      }
      const TSettings s = Snapshot();
      const std::size_t count = batch.Entries.size();
      WritePass(s, batch, buffer);
      {
        std::lock_guard<std::mutex> lock(FDoneLock);
        FWrittenCount += count;
      }
      FDoneCond.notify_all();
      if (s.Priority < tpHigher) std::this_thread::yield();
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

  {
    std::lock_guard<std::mutex> lock(FDoneLock);
    FWriterFailed.store(true);
  }
  FDoneCond.notify_all();
  const TSettings s = Snapshot();
  try {
    RunOnOwner(s, [handler = s.OnWriterError, failure] {
      if (handler) {
        handler(failure);
      } else {
        std::fprintf(stderr, "%s\n", failure.c_str());
      }
    });
  } catch (...) {
    // The report is the writer's last act; a handler that fails cannot be reported to itself.
  }
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

void TMessageLogger::WritePass(const TSettings& S, TLogQueue& Batch, std::string& Buffer) {
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

  TFileCloser file(std::fopen(name.c_str(), "ab"));
  if (!file.Get()) {
    throw std::runtime_error((existed ? "Cannot open file \"" : "Cannot create file \"") + name + "\". " +
                             ErrorText(errno));
  }
  std::setvbuf(file.Get(), nullptr, _IONBF, 0);  // the lines come in large chunks already
  if (!existed) {
    FLastCreatedFile = name;
    // The call owns copies of what it uses: it may still be running on the owner's thread
    // when a handler there has destroyed the logger.
    if (S.OnFileCreated) RunOnOwner(S, [this, handler = S.OnFileCreated, name] { handler(this, name); });
  }

  // Lines go out in chunks of about kChunkBytes: few writes, and a large batch does not need
  // its whole text formatted in memory at once.
  constexpr std::size_t kChunkBytes = 1u << 20;
  Buffer.clear();
  const auto flush = [&] {
    const std::size_t written = std::fwrite(Buffer.data(), 1, Buffer.size(), file.Get());
    if (written != Buffer.size()) {
      throw std::runtime_error("Cannot write to file \"" + name + "\". " + ErrorText(errno));
    }
    Buffer.clear();
  };
  std::string stamp;
  TDateTime stampTime = -1;
  bool stampUtc = false;
  const std::string_view texts = Batch.Texts;
  for (const TLogEntry& entry : Batch.Entries) {
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
  Batch.Clear();
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
