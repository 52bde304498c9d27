// The wall clock as far as a steady clock backs it, for the purges: they delete what is older
// than their age, and a wall clock that jumps ahead (a board without a battery clock, a bad
// time server) would make everything look old. A reading is believed when the wall clock
// moved as much as the steady clock since the last believed one (within a slack and a
// drift); a jump is believed once it has held for an hour of steady time. Until then the
// last believed reading plus the steady time since stands for "now". A jump back needs no
// waiting for a purge: it only makes things look younger.
#pragma once

#include <functional>
#include <mutex>

#include "base/Timing.h"

namespace qm {

// The wall clock (UTC) and a steady clock read at one moment.
struct TClockPair {
  TDateTime Utc = 0;
  double Steady = 0;  // seconds from an arbitrary start, never going back
};

// On Linux the steady clock is CLOCK_BOOTTIME, which counts a suspended machine's sleep, so
// waking up is no jump.
TClockPair CurrentClockPair();

class TTrustedClock {
 public:
  using TSource = std::function<TClockPair()>;

  // How far the two clocks may part between readings: a slack, plus a drift for clocks that
  // are slewed (NTP slews at most 500 ppm).
  static constexpr double kSlackSeconds = 60;
  static constexpr double kDriftRate = 0.001;
  // How long a jumped wall clock must keep its new reading to be believed.
  static constexpr double kHoldSeconds = 3600;

  explicit TTrustedClock(TSource source = CurrentClockPair);

  // The UTC time now as far as it is believed.
  TDateTime Now();
  // How many days the wall clock reads ahead of that (0 when believed or behind). A purge
  // moves its cutoff back by this much.
  double AheadDays();

  // The one every purge of the process asks.
  static TTrustedClock& Shared();
  // Tests: the shared clock starts over, reading `source` (the system's when empty).
  static void ResetShared(TSource source = {});

 private:
  struct TReading {
    TDateTime Wall;
    TDateTime Trusted;
  };
  TReading Read();

  std::mutex FLock;
  TSource FSource;
  bool FHaveBase = false;
  TClockPair FBase;  // the last believed reading
  bool FHaveJump = false;
  double FJumpOffset = 0;  // wall minus steady of a reading not (yet) believed, in seconds
  double FJumpSince = 0;   // steady time it was first seen
};

}  // namespace qm
