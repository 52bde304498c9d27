#include "log/LogFiles.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <system_error>
#include <utility>
#include <vector>

#include <fcntl.h>
#ifdef _WIN32
#include <io.h>
#include <sys/stat.h>
#else
#include <unistd.h>
#endif

#include "base/TrustedClock.h"
#include "log/EntryText.h"

namespace qm {
namespace fs = std::filesystem;

namespace {

constexpr int kRollOverNames = 9;  // the plain roll-over name, then " (2)" to " (9)"

// The position of the extension's dot in a file name, or npos when it has none.
std::size_t ExtensionDot(std::string_view name) {
  const std::size_t dot = name.rfind('.');
  const std::size_t slash = name.rfind(kLogSeparator);
  if (dot == std::string_view::npos || (slash != std::string_view::npos && dot < slash)) {
    return std::string_view::npos;
  }
  return dot;
}

std::string_view ExtensionOrLog(std::string_view name) {
  const std::size_t dot = ExtensionDot(name);
  if (dot == std::string_view::npos || dot + 1 == name.size()) return "log";
  return name.substr(dot + 1);
}

TDateTime LocalFileTime(fs::file_time_type when) {
  const auto sys = std::chrono::file_clock::to_sys(when);
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(sys.time_since_epoch()).count();
  const std::time_t secs = static_cast<std::time_t>(ms / 1000);
  std::tm tm{};
#ifdef _WIN32
  localtime_s(&tm, &secs);
#else
  localtime_r(&secs, &tm);
#endif
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

}  // namespace

std::string_view WithoutExtension(std::string_view name) {
  const std::size_t dot = ExtensionDot(name);
  return dot == std::string_view::npos ? name : name.substr(0, dot);
}

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

void DefaultLogLocation(std::string& name, std::string& path) {
  name = "Quillmark.log";
  path.clear();
#ifdef __linux__
  std::error_code ec;
  const fs::path exe = fs::read_symlink("/proc/self/exe", ec);
  if (ec || exe.filename().empty()) return;
  name = fs::path(exe.filename()).replace_extension(".log").string();
  path = exe.parent_path().string();
  if (path.empty() || path.back() != kLogSeparator) path += kLogSeparator;
#endif
}

void RollOverFile(const std::string& FileName, const std::string& Target) {
  for (int n = 1; n <= kRollOverNames; ++n) {
    if (RenameNoReplace(FileName, n == 1 ? Target : NumberedName(Target, n))) return;
    if (errno != EEXIST) return;  // another name would fail the same way
  }
}

void PurgeOldLogFiles(const std::string& Path, std::string_view FileName, TDateTime Cutoff) {
  try {
    Cutoff -= TTrustedClock::Shared().AheadDays();
    const std::string_view base = WithoutExtension(FileName);
    std::error_code ec;
    if (Path.empty() || !fs::is_directory(Path, ec)) return;
    std::vector<fs::path> old;
    for (fs::directory_iterator it(Path, ec), end; !ec && it != end; it.increment(ec)) {
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

std::string ErrorText(int error) {
  return std::error_code(error, std::generic_category()).message();
}

TAppendFile::TAppendFile(const std::string& name) {
#ifdef _WIN32
  FFd = ::_open(name.c_str(), _O_WRONLY | _O_APPEND | _O_CREAT | _O_BINARY, _S_IREAD | _S_IWRITE);
#else
  FFd = ::open(name.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
#endif
}

TAppendFile::~TAppendFile() {
  if (FFd >= 0) Close();
}

std::int64_t TAppendFile::Size() const {
#ifdef _WIN32
  return ::_lseeki64(FFd, 0, SEEK_END);
#else
  return ::lseek(FFd, 0, SEEK_END);
#endif
}

bool TAppendFile::Write(const char* data, std::size_t size) {
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

bool TAppendFile::Truncate(std::int64_t size) {
#ifdef _WIN32
  return ::_chsize_s(FFd, size) == 0;
#else
  return ::ftruncate(FFd, static_cast<off_t>(size)) == 0;
#endif
}

int TAppendFile::Close() {
#ifdef _WIN32
  return ::_close(std::exchange(FFd, -1));
#else
  return ::close(std::exchange(FFd, -1));
#endif
}

}  // namespace qm
