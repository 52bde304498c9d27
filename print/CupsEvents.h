#pragma once
// How CUPS jobs ended, in the spooler's own words, for jobs it has forgotten since. Only
// where libcups is built in (QM_HAVE_CUPS).

#include <QElapsedTimer>

#include <map>

namespace qm {

class TCupsConnection;

// The spooler's job-completed events, read from a subscription of this user on the whole
// spooler: a job the spooler no longer knows (no job history, a purge) ended as its first
// such event says. A job cancelled before it started has no queue in its event, so a
// subscription on one queue would never hear of it. The subscription outlives the program
// (a lease of a day, renewed while in use) and is shared by its copies, so a restarted
// program still reads how the jobs of the one before ended; cupsd keeps its last 100 events
// (MaxEvents) and none over a restart of cupsd.
class TCupsJobEnds {
 public:
  enum class TWatch {
    wWatching,  // the subscription is there
    wRefused,   // the spooler takes none (its job history is all there is then)
    wNoAnswer,  // the spooler did not answer: it will not answer the next request either
  };
  using enum TWatch;
  // Makes sure the subscription is there; before a job is handed over, so that its end is
  // heard.
  TWatch Watch(const TCupsConnection& connection);
  // How job `id` ended by the first end event of it (IPP_JSTATE_COMPLETED, _CANCELED or
  // _ABORTED; a purge after completion adds a "cancelled" one), reading the events that came
  // since the last read; 0 when no event tells.
  int EndOf(const TCupsConnection& connection, int id);

 private:
  TWatch Adopt(const TCupsConnection& connection);
  TWatch Create(const TCupsConnection& connection);
  TWatch Renew(const TCupsConnection& connection);
  void Read(const TCupsConnection& connection);

  int FSubscription = 0;
  int FNextEvent = 1;
  QElapsedTimer FRenewed;
  std::map<int, int> FEnds;  // job id -> its first end
};

}  // namespace qm
