#pragma once
// Windows' print spooler as the program reads it: what the status bits of a job say about its
// page, and which listed job is the one just handed over. The reading of the bits and the
// matching build everywhere (and are tested everywhere); the spooler is asked on Windows only.

#include "print/PrintJobs.h"

#include <QString>

#include <vector>

namespace qm {

// JOB_STATUS_* of winspool.h (checked against it where it is included).
namespace winjob {
constexpr unsigned Paused = 0x1;
constexpr unsigned Error = 0x2;
constexpr unsigned Deleting = 0x4;
constexpr unsigned Spooling = 0x8;
constexpr unsigned Printing = 0x10;
constexpr unsigned Offline = 0x20;
constexpr unsigned PaperOut = 0x40;
constexpr unsigned Printed = 0x80;
constexpr unsigned Deleted = 0x100;
constexpr unsigned BlockedDevq = 0x200;
constexpr unsigned UserIntervention = 0x400;
constexpr unsigned Restart = 0x800;
constexpr unsigned Complete = 0x1000;
}  // namespace winjob

// A job as EnumJobs and GetJob list it (JOB_INFO_1).
struct TWinJob {
  int Id = 0;
  QString Document;  // the document name: the job's title
  QString User;
  qint64 Submitted = 0;  // ms since 1970, UTC
  unsigned Status = 0;   // winjob bits
  QString StatusText;    // the driver's or port monitor's own words, if any
};

// How a listed job stands. Printed or complete is completed; deleted, in error, blocked by
// its driver or on a printer that is offline is failed (the caller takes a failed job still
// in the queue out of it, so that its page is not printed twice); anything else is pending,
// with what holds it back as the reason.
TSpoolAnswer WinJobAnswer(const TWinJob& job);
// How a job stands that the spooler no longer lists: completed once it was seen printing
// (Windows removes a printed job unless told to keep it); otherwise the spooler tells
// nothing, and a job it took counts as done, as when it could not be followed at all.
TSpoolAnswer WinJobGoneAnswer(int id, bool seenPrinting);
// Whether a status shows the job on its way to paper.
bool WinJobSeenPrinting(unsigned status);

// The job handed over: listed after the hand-over and not before, carrying `document`, of
// `user`, submitted between `from` and `to` (ms since 1970, UTC). 0 when no job is such, or
// when more than one is (another copy of the program printed on the same printer meanwhile).
int MatchWinJob(const std::vector<TWinJob>& before, const std::vector<TWinJob>& after,
                const QString& document, const QString& user, qint64 from, qint64 to);

#ifdef _WIN32
// The jobs of `printer`; false, with `why`, when the spooler does not list them.
bool ListWinJobs(const QString& printer, std::vector<TWinJob>& jobs, QString& why);
enum class TWinLookUp { wlFound, wlGone, wlNoAnswer };
using enum TWinLookUp;
// Job `id` of `printer`: found, gone from the queue, or no answer (`why`).
TWinLookUp LookUpWinJob(const QString& printer, int id, TWinJob& job, QString& why);
// Takes job `id` out of the queue; false when the spooler refuses.
bool DeleteWinJob(const QString& printer, int id);
// The user jobs are submitted as.
QString WinUserName();
#endif

}  // namespace qm
