// The purges' shared clock reading a wall clock and a steady clock that the test moves.
#pragma once

#include "base/TrustedClock.h"

namespace qm::test {

class TClockPairDriver {
 public:
  static constexpr double kSecondsPerDay = 86400;

  explicit TClockPairDriver(TDateTime start) : FStart(start) {
    TTrustedClock::ResetShared([this] { return Pair(); });
    TTrustedClock::Shared().Now();  // the first reading is believed
  }
  ~TClockPairDriver() { TTrustedClock::ResetShared(); }
  TClockPairDriver(const TClockPairDriver&) = delete;
  TClockPairDriver& operator=(const TClockPairDriver&) = delete;

  // Moves the steady clock to `steady` seconds after the start, the wall clock `wallAhead`
  // seconds away from it.
  void Set(double steady, double wallAhead) {
    FSteady = steady;
    FWallAhead = wallAhead;
  }
  TClockPair Pair() const { return {FStart + (FSteady + FWallAhead) / kSecondsPerDay, 1000 + FSteady}; }

 private:
  TDateTime FStart;
  double FSteady = 0;
  double FWallAhead = 0;
};

}  // namespace qm::test
