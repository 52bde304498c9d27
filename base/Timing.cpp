#include "base/Timing.h"

#include <chrono>
#include <clocale>
#include <cmath>
#include <ctime>

#ifdef _WIN32
#include <windows.h>
#else
#include <langinfo.h>
#endif

#include "base/AsciiText.h"

namespace qm {
namespace {

constexpr double kMsPerDay = 86400000.0;
constexpr long long kMsPerDayWhole = 86400000;

// Days from 1970-01-01 to a civil date (proleptic Gregorian), after H. Hinnant.
constexpr long DaysFromCivil(long y, unsigned m, unsigned d) {
  y -= m <= 2;
  const long era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<long>(doe) - 719468;
}

constexpr long kEpochOffsetDays = -DaysFromCivil(1899, 12, 30);  // 1970-01-01 as a day count

// Dates before 1899-12-30 keep the time as a positive fraction of a negative day count.
TDateTime FromDaysAndMs(long days, double msOfDay) {
  return days >= 0 ? days + msOfDay / kMsPerDay : days - msOfDay / kMsPerDay;
}

// A UTC day has 86,400,000 ms in the system clock's count (leap seconds are not counted),
// so the day count and the time of day need no broken-down time. ms is not negative.
TDateTime UtcMsToDateTime(long long ms) {
  const long long days = ms / kMsPerDayWhole;
  return FromDaysAndMs(static_cast<long>(days) + kEpochOffsetDays,
                       static_cast<double>(ms - days * kMsPerDayWhole));
}

void AppendNumber(std::string& out, int value, int width) {
  std::string digits = std::to_string(value < 0 ? -value : value);
  if (static_cast<int>(digits.size()) < width) out.append(width - digits.size(), '0');
  out += digits;
}

char Lower(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

}  // namespace

TDateTime EncodeDateTime(const TDateTimeParts& p) {
  const long days =
      DaysFromCivil(p.Year, static_cast<unsigned>(p.Month), static_cast<unsigned>(p.Day)) + kEpochOffsetDays;
  return FromDaysAndMs(days, ((p.Hour * 60.0 + p.Minute) * 60.0 + p.Second) * 1000.0 + p.Millisecond);
}

TDateTimeParts DecodeDateTime(TDateTime value) {
  double whole = std::trunc(value);
  double frac = std::fabs(value - whole);
  long long msOfDay = std::llround(frac * kMsPerDay);
  if (msOfDay >= static_cast<long long>(kMsPerDay)) {  // rounding reached the next day
    msOfDay = 0;
    whole += value >= 0 ? 1 : -1;
  }
  // Civil date from days since 1970-01-01, after H. Hinnant.
  long z = static_cast<long>(whole) - kEpochOffsetDays + 719468;
  const long era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  TDateTimeParts p;
  p.Day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  p.Month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  p.Year = static_cast<int>(static_cast<long>(yoe) + era * 400 + (p.Month <= 2));
  p.Millisecond = static_cast<int>(msOfDay % 1000);
  p.Second = static_cast<int>(msOfDay / 1000 % 60);
  p.Minute = static_cast<int>(msOfDay / 60000 % 60);
  p.Hour = static_cast<int>(msOfDay / 3600000);
  return p;
}

TDateTime CurrentDateTime(TTimeFormat format) {
  if (format != tfUTC && format != tfLocal) throw ETimeFormatError();
  const auto now = std::chrono::system_clock::now();
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count();
  if (format == tfUTC && ms >= 0) return UtcMsToDateTime(ms);
  const std::time_t secs = static_cast<std::time_t>(ms / 1000);
  // Breaking the local time down into a civil date is the costly part, and the logger asks
  // for the time at every entry: each thread does it once a second.
  struct TSecond {
    bool Valid = false;
    std::time_t Secs = 0;
    long Days = 0;
    double MsOfDay = 0;
  };
  thread_local TSecond cache[2];
  TSecond& second = cache[static_cast<int>(format)];
  if (!second.Valid || second.Secs != secs) {
    std::tm tm{};
#ifdef _WIN32
    if (format == tfUTC) {
      gmtime_s(&tm, &secs);
    } else {
      localtime_s(&tm, &secs);
    }
#else
    if (format == tfUTC) {
      gmtime_r(&secs, &tm);
    } else {
      localtime_r(&secs, &tm);
    }
#endif
    second.Days = DaysFromCivil(tm.tm_year + 1900, static_cast<unsigned>(tm.tm_mon + 1),
                                static_cast<unsigned>(tm.tm_mday)) +
                  kEpochOffsetDays;
    const int sec = tm.tm_sec > 59 ? 59 : tm.tm_sec;  // a leap second counts as :59
    second.MsOfDay = ((tm.tm_hour * 60.0 + tm.tm_min) * 60.0 + sec) * 1000.0;
    second.Secs = secs;
    second.Valid = true;
  }
  return FromDaysAndMs(second.Days, second.MsOfDay + static_cast<double>(ms % 1000));
}

std::string FormatDateTime(std::string_view pattern, TDateTime value) {
  return FormatDateTime(pattern, value, TRegionalSeparators{});
}

std::string FormatDateTime(std::string_view pattern, TDateTime value, TRegionalSeparators separators) {
  const TDateTimeParts p = DecodeDateTime(value);
  std::string out;
  out.reserve(pattern.size() + 4);
  bool lastWasHour = false;  // "mm" right after an hour means minutes
  std::size_t i = 0;
  auto run = [&](char letter) {
    std::size_t n = 0;
    while (i + n < pattern.size() && Lower(pattern[i + n]) == letter) ++n;
    return n;
  };
  while (i < pattern.size()) {
    const char c = Lower(pattern[i]);
    std::size_t n = 1;
    switch (c) {
      case 'y':
        n = run('y');
        if (n <= 2) {
          AppendNumber(out, p.Year % 100, 2);
        } else {
          AppendNumber(out, p.Year, 4);
        }
        break;
      case 'm':
        n = run('m');
        AppendNumber(out, lastWasHour ? p.Minute : p.Month, n >= 2 ? 2 : 1);
        lastWasHour = false;
        i += n;
        continue;
      case 'd':
        n = run('d');
        AppendNumber(out, p.Day, n >= 2 ? 2 : 1);
        break;
      case 'h':
        n = run('h');
        AppendNumber(out, p.Hour, n >= 2 ? 2 : 1);
        lastWasHour = true;
        i += n;
        continue;
      case 'n':
        n = run('n');
        AppendNumber(out, p.Minute, n >= 2 ? 2 : 1);
        break;
      case 's':
        n = run('s');
        AppendNumber(out, p.Second, n >= 2 ? 2 : 1);
        break;
      case 'z':
        n = run('z');
        AppendNumber(out, p.Millisecond, n >= 3 ? 3 : 1);
        break;
      case ':':
        out += separators.Time;
        break;
      case '/':
        out += separators.Date;
        break;
      default:
        out += pattern[i];
        i += 1;
        continue;  // other characters do not end an hour's reach
    }
    if (c >= 'a' && c <= 'z') lastWasHour = false;
    i += n;
  }
  return out;
}

namespace {

#ifdef _WIN32
// The user's short date and long time formats, as the control panel sets them.
bool RegionalForms(const TDateTimeParts& p, std::string& date, std::string& time) {
  SYSTEMTIME st{};
  st.wYear = static_cast<WORD>(p.Year);
  st.wMonth = static_cast<WORD>(p.Month);
  st.wDay = static_cast<WORD>(p.Day);
  st.wHour = static_cast<WORD>(p.Hour);
  st.wMinute = static_cast<WORD>(p.Minute);
  st.wSecond = static_cast<WORD>(p.Second);
  char d[128];
  char t[128];
  if (GetDateFormatA(LOCALE_USER_DEFAULT, DATE_SHORTDATE, &st, nullptr, d, sizeof d) == 0) return false;
  if (GetTimeFormatA(LOCALE_USER_DEFAULT, 0, &st, nullptr, t, sizeof t) == 0) return false;
  date = d;
  time = t;
  return true;
}
#else
// The C and POSIX locales carry no regional choice; their two-digit year would lose the century.
bool IsPlainCLocale(const char* name) {
  const std::string_view n = name ? name : "C";
  return n == "C" || n == "POSIX" || n.substr(0, 2) == "C.";
}

bool FormatPart(const char* format, const std::tm& tm, std::string& out) {
  if (!format || !*format) return false;
  char buffer[128];
  const std::size_t length = std::strftime(buffer, sizeof buffer, format, &tm);
  if (length == 0) return false;
  out.assign(buffer, length);
  return true;
}

// The formats of the program's LC_TIME locale (main() takes it from the environment):
// its date format (D_FMT) and its time format (T_FMT).
bool RegionalForms(const TDateTimeParts& p, std::string& date, std::string& time) {
  if (IsPlainCLocale(std::setlocale(LC_TIME, nullptr))) return false;
  std::tm tm{};
  tm.tm_year = p.Year - 1900;
  tm.tm_mon = p.Month - 1;
  tm.tm_mday = p.Day;
  tm.tm_hour = p.Hour;
  tm.tm_min = p.Minute;
  tm.tm_sec = p.Second;
  const long day = std::lround(std::floor(EncodeDateTime({p.Year, p.Month, p.Day})));
  tm.tm_wday = static_cast<int>(((day + 6) % 7 + 7) % 7);  // 1899-12-30 was a Saturday
  tm.tm_yday = static_cast<int>(day - std::lround(std::floor(EncodeDateTime({p.Year, 1, 1}))));
  return FormatPart(nl_langinfo(D_FMT), tm, date) && FormatPart(nl_langinfo(T_FMT), tm, time);
}
#endif

}  // namespace

std::string DateTimeToRegionalText(TDateTime value) {
  const TDateTimeParts p = DecodeDateTime(value);
  std::string date;
  std::string time;
  if (!RegionalForms(p, date, time)) {
    date = FormatDateTime("mm/dd/yyyy", value);
    time = FormatDateTime("hh:nn:ss", value);
  }
  // Midnight to the millisecond shows the date alone.
  if (p.Hour == 0 && p.Minute == 0 && p.Second == 0 && p.Millisecond == 0) return date;
  return date + " " + time;
}

TRegionalSeparators RegionalSeparators() {
  TRegionalSeparators result;
  std::string date;
  std::string time;
  if (!RegionalForms({2026, 12, 7, 18, 30, 45, 0}, date, time)) return result;
  // What stands between the first two numbers of each form, where that is one ASCII mark;
  // a word or a character of several bytes (the hour and minute signs of Japanese, Chinese and
  // Korean forms) keeps the fallback.
  const auto between = [](const std::string& text, char fallback) {
    const std::size_t digit = text.find_first_of("0123456789");
    if (digit == std::string::npos) return fallback;
    const std::size_t after = text.find_first_not_of("0123456789", digit);
    if (after == std::string::npos || after + 1 >= text.size()) return fallback;
    const auto isLetter = [](char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); };
    const char mark = text[after];
    const bool oneMark = mark > ' ' && mark < 0x7f && !isLetter(mark) && IsDigit(text[after + 1]);
    return oneMark ? mark : fallback;
  };
  result.Date = between(date, result.Date);
  result.Time = between(time, result.Time);
  return result;
}

std::uint32_t TickCount32() {
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
      std::chrono::steady_clock::now().time_since_epoch());
  return static_cast<std::uint32_t>(ms.count());
}

TTickAndUtc CurrentTickAndUtc() {
#if defined(__linux__) && defined(CLOCK_REALTIME_COARSE)
  // The system clock runs at the monotonic clock's rate (both are slewed alike), so UTC is
  // the monotonic reading plus an offset that changes only when the wall clock is set or
  // the machine wakes from sleep. The offset is measured again once a second, and at once
  // when the coarse system clock (a few cycles to read, behind by at most about two of its
  // ticks) disagrees with it, so a change of the wall clock shows in the next stamp.
  using std::chrono::nanoseconds;
  const auto monoNow = [] {
    return std::chrono::duration_cast<nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
  };
  struct TOffset {
    bool Valid = false;
    long long MonoToUtcNs = 0;
    long long MeasureAgainAtNs = 0;
    long long CoarseLagLimitNs = 0;
  };
  thread_local TOffset offset;
  long long mono = monoNow();
  bool valid = offset.Valid && mono < offset.MeasureAgainAtNs;
  if (valid) {
    timespec coarse{};
    clock_gettime(CLOCK_REALTIME_COARSE, &coarse);
    const long long coarseNs = coarse.tv_sec * 1000000000LL + coarse.tv_nsec;
    const long long predicted = mono + offset.MonoToUtcNs;
    valid = coarseNs <= predicted + 1000000 && coarseNs >= predicted - offset.CoarseLagLimitNs;
  }
  if (!valid) {
    if (!offset.Valid) {
      timespec res{};
      clock_getres(CLOCK_REALTIME_COARSE, &res);
      offset.CoarseLagLimitNs = 2 * (res.tv_sec * 1000000000LL + res.tv_nsec) + 1000000;
    }
    // Read between two monotonic readings; the error is half their distance, tens of ns
    // unless the thread was preempted in between: then the closest of a few tries counts.
    long long after = 0;
    long long bestGap = -1;
    for (int attempt = 0; attempt < 5 && (bestGap < 0 || bestGap > 100000); ++attempt) {
      const long long before = monoNow();
      const long long utc =
          std::chrono::duration_cast<nanoseconds>(std::chrono::system_clock::now().time_since_epoch())
              .count();
      after = monoNow();
      if (bestGap < 0 || after - before < bestGap) {
        bestGap = after - before;
        offset.MonoToUtcNs = utc - before / 2 - after / 2;
      }
    }
    mono = after;
    if (bestGap > 100000) {
      // Every try was cut into: no offset good to the millisecond. This stamp reads the
      // system clock itself and the next one measures again.
      offset.Valid = false;
      TTickAndUtc direct;
      direct.TickCount = static_cast<std::uint32_t>(mono / 1000000);
      direct.Utc = CurrentDateTime(tfUTC);
      return direct;
    }
    offset.MeasureAgainAtNs = after + 1000000000LL;
    offset.Valid = true;
  }
  const long long utcMs = (mono + offset.MonoToUtcNs) / 1000000;
  TTickAndUtc stamp;
  stamp.TickCount = static_cast<std::uint32_t>(mono / 1000000);
  stamp.Utc = utcMs >= 0 ? UtcMsToDateTime(utcMs) : CurrentDateTime(tfUTC);
  return stamp;
#else
  TTickAndUtc stamp;
  stamp.TickCount = TickCount32();
  stamp.Utc = CurrentDateTime(tfUTC);
  return stamp;
#endif
}

}  // namespace qm
