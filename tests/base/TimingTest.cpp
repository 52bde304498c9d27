#include "base/Timing.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <string>

#include "tests/support/TimeLocale.h"

namespace qm {
namespace {

TDateTime At(int y, int mo, int d, int h, int mi, int s, int ms) {
  return EncodeDateTime({y, mo, d, h, mi, s, ms});
}

TEST(FormatDateTime, PatternsInUse) {
  struct Case {
    const char* pattern;
    TDateTime value;
    const char* expected;
  } cases[] = {
      {"hh:nn:ss.zzz", At(2003, 6, 15, 9, 5, 3, 7), "09:05:03.007"},
      {" hh:nn:ss  mm/dd/yy", At(2003, 6, 15, 14, 5, 33, 0), " 14:05:33  06/15/03"},
      {"yy-mm-dd", At(2004, 1, 1, 0, 0, 0, 0), "04-01-01"},
      {"hh:nn:ss", At(1999, 12, 31, 23, 59, 59, 999), "23:59:59"},
      {"HH:NN", At(2026, 12, 7, 8, 4, 0, 0), "08:04"},
      {"hh:mm", At(2026, 12, 7, 8, 4, 0, 0), "08:04"},  // mm after an hour is minutes
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.pattern);
    EXPECT_EQ(FormatDateTime(c.pattern, c.value), c.expected);
  }
}

TEST(DateTime, EncodeDecodeRoundTrip) {
  EXPECT_DOUBLE_EQ(At(1899, 12, 30, 0, 0, 0, 0), 0.0);
  EXPECT_DOUBLE_EQ(At(1900, 1, 1, 12, 0, 0, 0), 2.5);
  const TDateTimeParts p = DecodeDateTime(At(2024, 2, 29, 23, 59, 59, 999));
  EXPECT_EQ(p.Year, 2024);
  EXPECT_EQ(p.Month, 2);
  EXPECT_EQ(p.Day, 29);
  EXPECT_EQ(p.Hour, 23);
  EXPECT_EQ(p.Second, 59);
  EXPECT_EQ(p.Millisecond, 999);
}

// The LC_TIME locale's date and time formats; the C locales keep the fixed forms. Midnight
// to the millisecond shows the date alone.
TEST(DateTime, RegionalTextFollowsTheTimeLocale) {
  const struct {
    const char* locale;
    const char *afternoon, *midnight, *afterMidnight;
  } cases[] = {
      {"C", "12/07/2026 16:05:09", "01/01/2027", "01/01/2027 00:00:00"},
      {"POSIX", "12/07/2026 16:05:09", "01/01/2027", "01/01/2027 00:00:00"},
      {"C.UTF-8", "12/07/2026 16:05:09", "01/01/2027", "01/01/2027 00:00:00"},
      {"de_DE", "07.12.2026 16:05:09", "01.01.2027", "01.01.2027 00:00:00"},
      {"en_US", "12/07/2026 04:05:09 PM", "01/01/2027", "01/01/2027 12:00:00 AM"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.locale);
    const test::TTimeLocale locale(c.locale);
    ASSERT_TRUE(locale.Active());
    EXPECT_EQ(DateTimeToRegionalText(At(2026, 12, 7, 16, 5, 9, 0)), c.afternoon);
    EXPECT_EQ(DateTimeToRegionalText(At(2027, 1, 1, 0, 0, 0, 0)), c.midnight);
    EXPECT_EQ(DateTimeToRegionalText(At(2027, 1, 1, 0, 0, 0, 400)), c.afterMidnight);
  }
}

// The clocks take the regional forms' separators only where each is one ASCII mark; the
// signs of Japanese, Chinese and Korean forms (several bytes each) keep ":" and "/".
TEST(DateTime, RegionalSeparatorsAreOneAsciiMarkOrTheFallback) {  // slow
  const struct {
    const char *source, *charset;
    char date, time;
  } cases[] = {
      {"C", "", '/', ':'},          {"de_DE", "", '.', ':'},      {"en_US", "", '/', ':'},
      {"ja_JP", "UTF-8", '/', ':'}, {"zh_CN", "UTF-8", '/', ':'}, {"ko_KR", "UTF-8", '/', ':'},
      {"fi_FI", "UTF-8", '.', '.'},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.source) + " " + c.charset);
    const test::TTimeLocale locale(c.source, c.charset);
    ASSERT_TRUE(locale.Active());
    const TRegionalSeparators s = RegionalSeparators();
    EXPECT_EQ(s.Date, c.date);
    EXPECT_EQ(s.Time, c.time);
    EXPECT_EQ(FormatDateTime(" hh:nn:ss  mm/dd/yy", At(2003, 6, 15, 14, 5, 33, 0), s),
              std::string(" 14") + c.time + "05" + c.time + "33  06" + c.date + "15" + c.date + "03");
  }
}

TEST(CurrentDateTime, RefusesUnknownSelector) {
  EXPECT_THROW(
      {
        try {
          CurrentDateTime(static_cast<TTimeFormat>(2));
        } catch (const ETimeFormatError& e) {
          EXPECT_STREQ(e.what(), "Unimplemented time format specified");
          throw;
        }
      },
      ETimeFormatError);
  const TDateTime utc = CurrentDateTime(tfUTC);
  EXPECT_GT(utc, At(2020, 1, 1, 0, 0, 0, 0));
}

// Readings come from a per-second cache; each time base must keep its own, and agree with a
// direct breakdown of the same second.
TEST(CurrentDateTime, MatchesSystemClockInBothBases) {
  setenv("TZ", "QMT-5:30", 1);  // a zone well away from UTC, with a half hour
  tzset();
  for (int round = 0; round < 3; ++round) {
    for (const TTimeFormat f : {tfUTC, tfLocal, tfUTC}) {
      SCOPED_TRACE(static_cast<int>(f));
      const std::time_t before = std::time(nullptr);
      const TDateTime value = CurrentDateTime(f);
      const std::time_t after = std::time(nullptr);
      bool matched = false;
      for (std::time_t t = before; t <= after && !matched; ++t) {
        std::tm tm{};
        if (f == tfUTC) {
          gmtime_r(&t, &tm);
        } else {
          localtime_r(&t, &tm);
        }
        const TDateTimeParts p = DecodeDateTime(value);
        matched = p.Year == tm.tm_year + 1900 && p.Month == tm.tm_mon + 1 && p.Day == tm.tm_mday &&
                  p.Hour == tm.tm_hour && p.Minute == tm.tm_min && p.Second == tm.tm_sec;
      }
      EXPECT_TRUE(matched) << FormatDateTime("yy-mm-dd hh:nn:ss.zzz", value);
    }
  }
  const double offsetHours = (CurrentDateTime(tfLocal) - CurrentDateTime(tfUTC)) * 24;
  EXPECT_NEAR(offsetHours, 5.5, 0.01);
}

// The packet stamp combines one monotonic reading with a cached UTC offset, measured to
// within half the span of two monotonic readings around the system clock's (at most 50 us):
// it must never fall outside two direct readings taken around it by more than the
// millisecond that error can carry it across (a thread sanitizer run on a busy machine once
// did).
TEST(CurrentTickAndUtc, LiesBetweenDirectReadings) {
  constexpr TDateTime kOneMs = 1.0 / 86400000;
  for (int i = 0; i < 100000; ++i) {
    const TDateTime u0 = CurrentDateTime(tfUTC);
    const std::uint32_t t0 = TickCount32();
    const TTickAndUtc s = CurrentTickAndUtc();
    const TDateTime u1 = CurrentDateTime(tfUTC);
    const std::uint32_t t1 = TickCount32();
    ASSERT_GE(s.Utc, u0 - kOneMs) << (u0 - s.Utc) / kOneMs << " ms early";
    ASSERT_LE(s.Utc, u1 + kOneMs) << (s.Utc - u1) / kOneMs << " ms late";
    ASSERT_LE(s.TickCount - t0, t1 - t0);
  }
}

}  // namespace
}  // namespace qm
