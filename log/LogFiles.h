// The logger's files: their names, appending whole lines, rolling a full file over and purging
// old ones. Paths use "/" and end with it; an empty path is the working folder.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "base/Timing.h"

namespace qm {

// The source of "now"; tests put a fixed or stepped clock in its place.
using TClock = std::function<TDateTime(TTimeFormat)>;

inline constexpr char kLogSeparator = '/';

// Path + "<base> <date><zone>.<ext>"; the extension defaults to "log".
std::string BuildLogFileName(std::string_view Path, std::string_view FileName, bool UTC,
                             std::string_view DatePattern, bool ZoneFlag,
                             const TClock& Clock = CurrentDateTime);

// Path + "<base> <date> <time><zone>.<ext>", the name a full day's file is renamed to.
std::string BuildRollOverFileName(std::string_view Path, std::string_view FileName, bool UTC,
                                  std::string_view DatePattern, std::string_view TimePattern, bool ZoneFlag,
                                  const TClock& Clock = CurrentDateTime);

// The name without its extension, if it has one (a dot after the last "/").
std::string_view WithoutExtension(std::string_view name);

// The log's name and folder when none is set: the executable's name with ".log", beside it
// (Linux); elsewhere "Quillmark.log" in the working folder.
void DefaultLogLocation(std::string& name, std::string& path);

// Renames a full file to Target, or to Target with " (2)" to " (9)" before its extension when
// that name is taken. Never replaces a file; with no free name the file stays and keeps growing.
void RollOverFile(const std::string& FileName, const std::string& Target);

// Deletes the files of this log ("<base>….log" in Path) last written before Cutoff (local
// time), moved back by as much as the wall clock reads ahead of what the steady clock backs
// (TTrustedClock). A failure ends the purge and leaves the rest for the next attempt.
void PurgeOldLogFiles(const std::string& Path, std::string_view FileName, TDateTime Cutoff);

// The system's text for an errno value.
std::string ErrorText(int error);

// A log file opened for appending through its descriptor: no library buffer holds back part
// of a line, and a batch that failed can be cut back to the file's size before it.
class TAppendFile {
 public:
  explicit TAppendFile(const std::string& name);
  ~TAppendFile();
  TAppendFile(const TAppendFile&) = delete;
  TAppendFile& operator=(const TAppendFile&) = delete;

  bool IsOpen() const { return FFd >= 0; }
  // The size in bytes, or -1 with errno set.
  std::int64_t Size() const;
  // Every byte, or false with errno set.
  bool Write(const char* data, std::size_t size);
  bool Truncate(std::int64_t size);
  // 0, or -1 with errno set.
  int Close();

 private:
  int FFd = -1;
};

}  // namespace qm
