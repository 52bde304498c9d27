#pragma once
// The Quillmark-PDF CUPS queue that scripts/cups-pdf-queue.sh sets up: its jobs, their
// PDF files and their names, for tests that print through real CUPS.

#include <QSet>
#include <QString>

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

// The job-name attribute of job `id`, asked with ipptool; throws when ipptool fails.
QString JobName(int id, const QString& queue = CupsPdfQueue);

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

}  // namespace qm::test
