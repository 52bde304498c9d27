#include "Timing.h"

#include <chrono>
#include <cmath>
#include <ctime>

namespace qm {
namespace {

constexpr double kMsPerDay = 86400000.0;

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
  const std::time_t secs = static_cast<std::time_t>(ms / 1000);
  // Breaking the time down into a civil date is the costly part, and the logger asks for the
  // time at every entry: each thread does it once a second per time base.
  struct TSecond {
    bool Valid = false;
    std::time_t Secs = 0;
    long Days = 0;
    double MsOfDay = 0;
  };
  thread_local TSecond cache[2];
  TSecond& second = cache[format];
  if (!second.Valid || second.Secs != secs) {
    std::tm tm{};
    if (format == tfUTC) {
      gmtime_r(&secs, &tm);
    } else {
      localtime_r(&secs, &tm);
    }
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
        out += ':';
        break;
      case '/':
        out += '/';
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

std::string DateTimeToRegionalText(TDateTime value) {
  const TDateTimeParts p = DecodeDateTime(value);
  std::string text = FormatDateTime("mm/dd/yyyy", value);
  if (p.Hour != 0 || p.Minute != 0 || p.Second != 0) text += FormatDateTime(" hh:nn:ss", value);
  return text;
}

std::uint32_t TickCount32() {
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
      std::chrono::steady_clock::now().time_since_epoch());
  return static_cast<std::uint32_t>(ms.count());
}

}  // namespace qm
