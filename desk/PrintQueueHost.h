// What the print queue needs from the desk that owns it, and no more: a log and a note for the
// operator, the durable store, failures and hints to show, the clock, the count, and whether the
// desk is free for a page. What only changes when the operator changes it (the page choices,
// the demo, the archive) the desk hands the queue as it changes. The queue knows nothing else
// of the desk.
#pragma once

#include <QString>
#include <functional>
#include <string>

#include "base/Timing.h"

namespace qm {

class TDurableStore;

// How full a page is before it is printed; printing may be off altogether.
struct TPageChoices {
  bool PrintingDisabled = false;
  std::string PageSetting;          // "Printed messages per page" exactly as typed
  bool FixedPitchFullText = false;  // full texts in a fixed-pitch font, to keep their columns
  bool NwsWordsLine = false;        // an NWS alert's plain words as a fourth line on the page
  bool HeaderFooter = false;        // the station, print time and page number on every page
  bool ReprintMark = true;          // "REPRINT of job N" at the top of a reprint's pages
  std::string Station;              // the own call, as the header names it
};

class TPrintQueueHost {
 public:
  virtual ~TPrintQueueHost() = default;

  // A line for the log only.
  virtual void LogMessage(const std::string& text) = 0;
  // A line the operator must hear of even without a window (a page printed, a job failed).
  virtual void Note(const std::string& text) = 0;
  // A line for the hint bar.
  virtual void Hint(const QString& text) = 0;
  // Shows a failure once until it changes; ForgetReportedFailure: shown again should it come
  // back (a page went through).
  virtual void ReportFailureOnce(const QString& reason, bool operatorAction) = 0;
  virtual void ForgetReportedFailure() = 0;
  // Runs work on the store; a failure is reported and answers false.
  virtual bool WithMessageStore(const std::function<void(TDurableStore&)>& work) = 0;
  // The store once opened, else null: what the end of a run says it keeps.
  virtual TDurableStore* OpenedStore() = 0;
  // The listed entries changed in number.
  virtual void UpdateCount() = 0;
  // Whether the desk is ready and waits for no full text, so a page may start now.
  virtual bool Idle() const = 0;
  virtual TDateTime Now(TTimeFormat format) const = 0;

 protected:
  TPrintQueueHost() = default;
  TPrintQueueHost(const TPrintQueueHost&) = default;
  TPrintQueueHost& operator=(const TPrintQueueHost&) = default;
};

}  // namespace qm
