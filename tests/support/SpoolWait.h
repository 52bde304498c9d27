#pragma once
// Waiting on the print spooler's answers for a job, for tests that print through CUPS.

#include "print/PrintJobs.h"

#include <QDeadlineTimer>
#include <QThread>

#include <algorithm>
#include <initializer_list>

namespace qm::test {

// Asks the spooler until the job is no longer `waiting` (pending, or also unreachable).
inline TSpoolAnswer WaitWhile(const TPrintJobs& jobs, const TJobTicket& ticket,
                              std::initializer_list<TSpoolState> waiting, int timeoutMs = 60000) {
  const QDeadlineTimer deadline(timeoutMs);
  for (;;) {
    TSpoolAnswer answer = jobs.JobState(ticket);
    if (std::find(waiting.begin(), waiting.end(), answer.State) == waiting.end() || deadline.hasExpired())
      return answer;
    // CUPS offers no notification to block on from here; ask again shortly.
    QThread::msleep(100);
  }
}

}  // namespace qm::test
