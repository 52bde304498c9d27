// For the crash-point tests only: with QM_TEST_KILL_AT=<k> in the environment the process
// kills itself with SIGKILL at the k-th point it passes. Points sit before each change of the
// message store, after each commit and each write of the log writer, between a message's
// commit and its listing, before each call to the print spooler, and around each try and end
// of a message the desk sends. Compiled in only where the room links qm_killpoint and
// QM_KILL_POINTS is on (the builds that run the tests); elsewhere a point is nothing, and no
// release reads the variable. Unset, a point costs a comparison.
#pragma once

#ifndef QM_KILL_POINTS
#error "a room with kill points links qm_killpoint"
#endif
#if QM_KILL_POINTS
#include <atomic>
#include <csignal>
#include <cstdlib>
#endif

namespace qm {

inline void KillPoint() {
#if QM_KILL_POINTS && defined(SIGKILL)
  static const long target = [] {
    const char* value = std::getenv("QM_TEST_KILL_AT");
    return value ? std::atol(value) : 0L;
  }();
  static std::atomic<long> passed{0};  // the store's thread passes points too
  if (target > 0 && ++passed == target) std::raise(SIGKILL);
#endif
}

}  // namespace qm
