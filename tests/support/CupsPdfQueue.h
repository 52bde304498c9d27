#pragma once
// The Quillmark-PDF CUPS queue that scripts/cups-pdf-queue.sh sets up: its jobs, their
// PDF files and their names, for tests that print through real CUPS.

#include <QSet>
#include <QString>
#include <QStringList>

namespace qm::test {

inline const QString CupsPdfQueue = QStringLiteral("Quillmark-PDF");
inline const QString CupsPdfFolder = QStringLiteral("/var/spool/quillmark-pdf");

// Ids of the queue's completed jobs (lpstat -W completed); throws when lpstat fails.
QSet<int> CompletedJobIds(const QString& queue = CupsPdfQueue);

// Waits until a completed job not in `before` appears; returns its id, or -1 at the deadline.
int WaitForNewCompletedJob(const QSet<int>& before, int timeoutMs, const QString& queue = CupsPdfQueue);

// The PDF file cups-pdf wrote for job `id` (job_<id>-<title>.pdf), or "" when none.
QString JobPdf(int id, const QString& folder = CupsPdfFolder);
// How many PDF files cups-pdf wrote for job `id`.
int JobPdfCount(int id, const QString& folder = CupsPdfFolder);

// Runs scripts/cups-pdf-queue.sh (start, halt ...) of the source tree in QM_SOURCE_DIR;
// throws when it fails.
void CupsPdfQueueScript(const QString& command);

// The newest completed job's PDF file, or "" when there is none.
QString NewestCompletedJobPdf(const QString& queue = CupsPdfQueue, const QString& folder = CupsPdfFolder);

// Hands `text` to `lp` on the queue as job `title`, as `user` (through runuser; "" = as this
// process); returns the job's id. Throws when lp fails or names no job.
int SubmitTextAs(const QString& user, const QString& title, const QByteArray& text,
                 const QString& queue = CupsPdfQueue);

// The job-name attribute of job `id`, asked with ipptool; throws when ipptool fails.
QString JobName(int id, const QString& queue = CupsPdfQueue);

// Ids of every job the spooler still knows on `queue`, whatever its state (lpstat -W all).
QSet<int> KnownJobIds(const QString& queue = CupsPdfQueue);
// Waits until the spooler no longer knows job `id`; false at the deadline.
bool WaitUntilForgotten(int id, const QString& queue, int timeoutMs);
// Waits until cups-pdf has written job `id` and the spooler has let it go (its file is
// whole then); false at the deadline.
bool WaitForJobPdf(int id, int timeoutMs, const QString& queue = CupsPdfQueue);

// A queue of the test's own beside the shared one (same PDF writer and folder), so a test
// may stop, reject or disable it without disturbing others; removed with its jobs at the end.
class TPrivateCupsQueue {
 public:
  TPrivateCupsQueue();
  ~TPrivateCupsQueue();
  TPrivateCupsQueue(const TPrivateCupsQueue&) = delete;
  TPrivateCupsQueue& operator=(const TPrivateCupsQueue&) = delete;

  const QString& Name() const { return FName; }
  // cupsenable/cupsdisable (jobs wait while disabled), cupsaccept/cupsreject (new jobs are
  // refused); throws when the command fails.
  void Enable(bool on) const;
  void Accept(bool on) const;
  // Cancels a job of this queue; throws when cancel fails.
  void Cancel(int job) const;
  // The ids of this queue's jobs not yet done.
  QSet<int> PendingJobIds() const;

 private:
  QString FName;
};

// A cupsd.conf directive set with cupsctl until Restore, or until it goes (also when the
// test fails), then put back as it was; one that was not set gets `defaultValue`. Each
// change restarts cupsd: both wait until it answers again.
class TCupsdDirective {
 public:
  TCupsdDirective(const QString& name, const QString& value, const QString& defaultValue);
  // Throws when cupsctl fails; the destructor can only say so on standard error.
  void Restore();
  ~TCupsdDirective();
  TCupsdDirective(const TCupsdDirective&) = delete;
  TCupsdDirective& operator=(const TCupsdDirective&) = delete;

 private:
  QString FName, FOld, FDefault;
  bool FRestored = false;
};

// Runs `program` until it ends; true when it was killed by SIGKILL (its own raise). Its
// standard output goes to `output`.
bool RunsUntilKilled(const QString& program, const QStringList& arguments, QString& output,
                     int timeoutMs = 60000);

}  // namespace qm::test
