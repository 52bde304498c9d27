// The desk's parts for a test that must reach one the desk's verbs do not show: the print
// jobs' statistics and event hook, the Finger client's query and bounds, the logger to wait
// for, the durable store to ask, the alarms' repeat. Tests only; the program goes through the desk's verbs.
#pragma once

#include "desk/MessageDesk.h"
#include "desk/PrintQueue.h"
#include "finger/FingerClient.h"
#include "log/MessageLogger.h"
#include "print/PrintJobs.h"
#include "store/DurableStore.h"

namespace qm::test {

struct TDeskParts {
  static TPrintJobs& PrintJobs(TMessageDesk& desk) { return desk.FQueue->PrintJobs(); }
  static TFingerClient& Finger(TMessageDesk& desk) { return *desk.FFinger; }
  static TMessageLogger* Logger(TMessageDesk& desk) { return desk.FLogger.get(); }
  static TDurableStore* Store(TMessageDesk& desk) { return desk.FStore.get(); }
  static bool AlarmRepeats(const TMessageDesk& desk) { return desk.FAlarmRepeat.isActive(); }
};

}  // namespace qm::test
