// The program's one source of "now" and its date-time pattern language.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>

namespace qm {

// Days since 1899-12-30, the time of day as the fraction, carried to the millisecond.
using TDateTime = double;

enum class TTimeFormat : std::uint8_t { tfUTC = 0, tfLocal = 1 };
using enum TTimeFormat;

class ETimeFormatError : public std::runtime_error {
 public:
  ETimeFormatError() : std::runtime_error("Unimplemented time format specified") {}
};

struct TDateTimeParts {
  int Year = 1899, Month = 12, Day = 30, Hour = 0, Minute = 0, Second = 0, Millisecond = 0;
};

TDateTime EncodeDateTime(const TDateTimeParts& parts);
TDateTimeParts DecodeDateTime(TDateTime value);

// The current date-time in UTC or in the machine's local time zone.
// Throws ETimeFormatError for any other selector.
TDateTime CurrentDateTime(TTimeFormat format);

// Applies a pattern: yy mm dd hh nn ss zzz (letters in any case), ":" and "/" as the
// regional separators, every other character as it stands. "mm" right after an hour
// ("hh" or "h" as the last letters) means minutes.
std::string FormatDateTime(std::string_view pattern, TDateTime value);

// The date and time separators the regional forms of DateTimeToRegionalText use ("." and
// ":" in a German locale); "/" and ":" where there are none.
struct TRegionalSeparators {
  char Date = '/';
  char Time = ':';
};
TRegionalSeparators RegionalSeparators();
// FormatDateTime with these separators for ":" and "/".
std::string FormatDateTime(std::string_view pattern, TDateTime value, TRegionalSeparators separators);

// The user's short date, then (unless the time is midnight to the millisecond) a blank and
// the long time. On Windows the user's regional settings give the forms; elsewhere the
// program's LC_TIME locale does (its D_FMT and T_FMT). Where LC_TIME is the C or POSIX
// locale (also C.UTF-8) the forms are fixed, mm/dd/yyyy and hh:nn:ss on a 24-hour clock:
// that locale's own date form would drop the century.
std::string DateTimeToRegionalText(TDateTime value);

// Milliseconds since an arbitrary start, monotonic, wrapping at 2^32.
std::uint32_t TickCount32();

// TickCount32() and CurrentDateTime(tfUTC) taken at one moment, for stamping many items
// a second: where the platform allows, one precise clock read serves both.
struct TTickAndUtc {
  std::uint32_t TickCount = 0;
  TDateTime Utc = 0;
};
TTickAndUtc CurrentTickAndUtc();

}  // namespace qm
