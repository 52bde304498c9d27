// The purges' clock: jumps of the wall clock are believed only once they hold, drift and
// small steps at once.
#include "base/TrustedClock.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "tests/support/ClockPairDriver.h"

namespace qm {
namespace {

constexpr double kDay = 86400;

struct TStep {
  double Steady;     // seconds since the start
  double WallAhead;  // seconds the wall clock reads ahead of the true time
  double Trusted;    // seconds the trusted time reads ahead of the true time
};

TEST(TTrustedClock, BelievesTheWallClockOnlyWhereTheSteadyClockBacksIt) {
  const struct {
    const char* what;
    std::vector<TStep> steps;
  } cases[] = {
      {"steady", {{3600, 0, 0}, {kDay, 0, 0}, {30 * kDay, 0, 0}}},
      {"forward 30 days for 8 s, then back",
       {{100, 30 * kDay, 0}, {104, 30 * kDay, 0}, {108, 0, 0}, {200, 0, 0}}},
      {"forward 30 days that holds an hour",
       {{100, 30 * kDay, 0},
        {3699, 30 * kDay, 0},
        {3700, 30 * kDay, 30 * kDay},
        {3800, 30 * kDay, 30 * kDay}}},
      {"a second jump while the first is held starts the hour again",
       {{100, 30 * kDay, 0}, {2000, 60 * kDay, 0}, {3700, 60 * kDay, 0}, {5600, 60 * kDay, 60 * kDay}}},
      {"a jump that comes back and goes again is a new one",
       {{100, 30 * kDay, 0},
        {200, 0, 0},
        {300, 30 * kDay, 0},
        {3800, 30 * kDay, 0},
        {3900, 30 * kDay, 30 * kDay}}},
      {"slow drift, 0.05 %",
       {{3600, 1.8, 1.8}, {7200, 3.6, 3.6}, {kDay, 43.2, 43.2}, {8 * kDay, 345.6, 345.6}}},
      {"an ordinary time-server step of 30 s", {{100, 30, 30}, {200, 30, 30}}},
      {"backward 2 days", {{100, -2 * kDay, 0}, {3700, -2 * kDay, -2 * kDay}, {3800, -2 * kDay, -2 * kDay}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    test::TClockPairDriver driver(46000.5);
    TTrustedClock clock([&] { return driver.Pair(); });
    clock.Now();
    for (const TStep& step : c.steps) {
      SCOPED_TRACE(step.Steady);
      driver.Set(step.Steady, step.WallAhead);
      const TDateTime trueTime = 46000.5 + step.Steady / kDay;
      EXPECT_NEAR((clock.Now() - trueTime) * kDay, step.Trusted, 1e-3);
      EXPECT_NEAR(clock.AheadDays() * kDay, std::max(0.0, step.WallAhead - step.Trusted), 1e-3);
    }
  }
}

TEST(TTrustedClock, TheSharedClockReadsTheSystemClocksAfterATest) {
  {
    test::TClockPairDriver driver(46000.5);
    driver.Set(10, 30 * kDay);
    EXPECT_NEAR(TTrustedClock::Shared().AheadDays(), 30, 1e-6);
  }
  EXPECT_EQ(TTrustedClock::Shared().AheadDays(), 0);
  EXPECT_NEAR(TTrustedClock::Shared().Now(), CurrentDateTime(tfUTC), 1.0 / kDay);
}

}  // namespace
}  // namespace qm
