#include "app/StartTrace.h"

#include <QElapsedTimer>
#include <cstdio>
#include <cstdlib>

namespace qm {
namespace {

// Started while the program's static objects are made, before main.
struct TStartClock {
  QElapsedTimer Timer;
  qint64 Last = 0;
  bool On = std::getenv("QM_TRACE_START") != nullptr;
  TStartClock() { Timer.start(); }
};
TStartClock StartClock;

}  // namespace

void StartMark(const char* what) {
  if (!StartClock.On) return;
  const qint64 now = StartClock.Timer.nsecsElapsed();
  std::fprintf(stderr, "start %8.2f ms  +%7.2f  %s\n", double(now) / 1e6, double(now - StartClock.Last) / 1e6,
               what);
  StartClock.Last = now;
}

}  // namespace qm
