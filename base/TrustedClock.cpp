#include "base/TrustedClock.h"

#include <chrono>
#include <cmath>
#include <ctime>

namespace qm {
namespace {

constexpr double kSecondsPerDay = 86400;

double SteadySeconds() {
#ifdef CLOCK_BOOTTIME
  timespec ts{};
  if (::clock_gettime(CLOCK_BOOTTIME, &ts) == 0) return static_cast<double>(ts.tv_sec) + ts.tv_nsec / 1e9;
#endif
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

}  // namespace

TClockPair CurrentClockPair() {
  return {CurrentDateTime(tfUTC), SteadySeconds()};
}

TTrustedClock::TTrustedClock(TSource source) : FSource(std::move(source)) {}

TTrustedClock::TReading TTrustedClock::Read() {
  std::lock_guard<std::mutex> lock(FLock);
  const TClockPair now = FSource();
  if (!FHaveBase) {
    FHaveBase = true;
    FBase = now;
    return {now.Utc, now.Utc};
  }
  const double steadySince = now.Steady - FBase.Steady;
  const TDateTime expected = FBase.Utc + steadySince / kSecondsPerDay;
  const double apart = (now.Utc - expected) * kSecondsPerDay;
  const double offset = now.Utc * kSecondsPerDay - now.Steady;
  bool believe = std::fabs(apart) <= kSlackSeconds + kDriftRate * std::fabs(steadySince);
  if (!believe) {
    // The same jump seen again keeps its first sighting; another one starts over.
    if (!FHaveJump || std::fabs(offset - FJumpOffset) > kSlackSeconds) {
      FHaveJump = true;
      FJumpOffset = offset;
      FJumpSince = now.Steady;
    }
    believe = now.Steady - FJumpSince >= kHoldSeconds;
  }
  if (!believe) return {now.Utc, expected};
  FHaveJump = false;
  FBase = now;
  return {now.Utc, now.Utc};
}

TDateTime TTrustedClock::Now() {
  return Read().Trusted;
}

double TTrustedClock::AheadDays() {
  const TReading r = Read();
  return r.Wall > r.Trusted ? r.Wall - r.Trusted : 0;
}

namespace {

std::mutex gSharedLock;
TTrustedClock* gShared = nullptr;

}  // namespace

TTrustedClock& TTrustedClock::Shared() {
  std::lock_guard<std::mutex> lock(gSharedLock);
  if (!gShared) gShared = new TTrustedClock();  // lives as long as the process
  return *gShared;
}

void TTrustedClock::ResetShared(TSource source) {
  std::lock_guard<std::mutex> lock(gSharedLock);
  delete gShared;
  gShared = new TTrustedClock(source ? std::move(source) : TSource(CurrentClockPair));
}

}  // namespace qm
