#include "run/StartTrace.h"

#include <QElapsedTimer>
#include <QTimer>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace qm {
namespace {

// Started while the program's static objects are made, before main.
struct TStartClock {
  QElapsedTimer Timer;
  qint64 Last = 0;
  const char* Mode = std::getenv("QM_TRACE_START");
  bool On = Mode != nullptr;
  bool EndAtPaint = On && std::strcmp(Mode, "paint") == 0;
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

void StartPainted() {
  StartMark("first paint");
  if (!StartClock.EndAtPaint) return;
  // The paint is flushed to the display before a zero timer runs.
  QTimer::singleShot(0, [] {
    StartMark("flushed");
    std::fflush(stderr);
    std::_Exit(0);
  });
}

}  // namespace qm
