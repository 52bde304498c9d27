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

// Hands `text` to `lp` on the queue as job `title`, as `user` (through runuser; "" = as this
// process); returns the job's id. Throws when lp fails or names no job.
int SubmitTextAs(const QString& user, const QString& title, const QByteArray& text,
                 const QString& queue = CupsPdfQueue);

// The job-name attribute of job `id`, asked with ipptool; throws when ipptool fails.
QString JobName(int id, const QString& queue = CupsPdfQueue);

}  // namespace qm::test
