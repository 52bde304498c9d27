// The listed entries on their way to paper: pages and full texts handed to the printer,
// the spooler asked until it confirms them, refused ones kept for the next try, and what
// is left when the program ends. The one place that decides when an entry leaves the list.
#pragma once

#include <QFont>
#include <QObject>
#include <QSet>
#include <QString>
#include <QStringList>
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "desk/PrintQueueHost.h"
#include "desk/PrintQueueTypes.h"
#include "print/PrintJobs.h"
#include "store/DurableStore.h"
#include "store/MessageStore.h"

class QTimer;

namespace qm {

// A job handed to the printer whose fate the spooler has not yet told.
struct TPendingJob {
  std::uint64_t Key = 0;
  std::int64_t StoreJob = 0;  // 0: the store could not keep it
  TJobKind Kind = jkList;
  TJobTicket Ticket;
  std::int64_t FullTextOf = 0;  // full-text job: the message's store id
  QString Document;             // full-text job: kept to print again after a failure
  QString Of;                   // full-text job: the alert, as its printed line names it
  bool ToldUnreachable = false;
  // Its number was never kept (killed while handing it over): found by its token first.
  bool Unfound = false;
};

// A page's text as the store keeps it: the lines as ListLineText shows them, each ended by
// CR LF, then (`ended`) one empty line: ListJobDocument's text in the program's bytes.
std::string ListDocumentText(const std::vector<std::string>& lines, bool ended = true);

class TPrintQueue : public QObject {
  Q_OBJECT

 public:
  // The host (the desk) outlives the queue.
  TPrintQueue(TPrintQueueHost& host, std::unique_ptr<TPrintJobs> printJobs,
              std::chrono::milliseconds spoolPoll);
  ~TPrintQueue() override;

  TPrintJobs& PrintJobs() { return *FPrintJobs; }
  const TPrintJobs& PrintJobs() const { return *FPrintJobs; }
  // The list's font (pages) and the text font (full texts), as the window shows them.
  void SetFonts(const QFont& list, const QFont& text);
  const QFont& ListFont() const { return FListFont; }
  const QFont& TextFont() const { return FTextFont; }
  // What full texts print in: the text font, or with FixedPitchFullText a fixed-pitch one.
  QFont FullTextFont() const;

  // The entries listed, oldest first, and the jobs the spooler has yet to confirm.
  const std::vector<TListedEntry>& Listed() const { return FListed; }
  const std::vector<TPendingJob>& PendingJobs() const { return FPendingJobs; }
  QStringList ListedLines() const;

  // At start: the list and the jobs the store kept from the last run.
  void Restore();
  // A new entry, after its lines were shown.
  void Add(TListedEntry entry);
  std::uint64_t NextKey() { return FNextKey++; }
  // Every entry not yet in a job, and full texts refused earlier, as jobs now. Throws the
  // printer's failure.
  void PrintNow();
  // Prints a page when enough entries wait for one; answers the failure, if any.
  std::string CheckPage();
  // The operator's "Clear": entries leave the list unprinted (the history keeps them); `keep`:
  // a stored message on its way to the list, which stays.
  void Clear(std::int64_t keep = 0);
  // The demo's entries leave the list (a real source was chosen).
  void DropDemo();
  // What the desk hands over as it changes: how full a page is before it prints; whether the
  // demo plays (its jobs are kept nowhere); the PDF archive's folder, empty while that option
  // is off.
  void SetPageChoices(TPageChoices choices) { FPageChoices = std::move(choices); }
  void SetDemo(bool demo) { FDemo = demo; }
  void SetArchiveFolder(const QString& folder) { FArchiveFolder = folder; }
  // Points the print jobs at the archive and gives them the page frame the choices ask for;
  // before every job, the desk's reprints too. `reprintOf`: the mark of a reprint (shown when
  // ReprintMark is on), "job 12".
  void PrepareJob(const QString& reprintOf = {});
  // A full text (or any text) as a job of its own; storeId 0: none stored. Throws the
  // printer's failure; the text is then kept for the next page.
  // `of`: the alert a full text belongs to, for its "Full text printed" line.
  void PrintText(std::int64_t storeId, const QString& document, const QString& of = {});
  // A page is being laid out: its entries are in a job, which the spooler has not yet seen.
  bool LayingOut() const { return FPrintJobs->LayingOut(); }
  // Asks the spooler about every pending job once; a timer calls it while any is pending.
  void FollowPendingJobs();
  // Lets events run until every pending job is confirmed or failed, or the bound passes;
  // answers why a job failed meanwhile, or "" (also when some are still pending). The one
  // wait of the queue, for its caller (a test, the end of a run); no job step calls it.
  QString WaitForPendingJobs(std::chrono::milliseconds bound);
  // The end of the run: nothing printed or waited for; the store keeps what is unprinted.
  void KeepUnprintedForNextStart();
  void StopFollowing();

  // Asks the spooler how the printer stands every `every`, and at once unless `first` is
  // ppLater: then the first answer waits for CheckPrinter (or the first period).
  void WatchPrinter(std::chrono::milliseconds every, TFirstPrinterCheck first = ppAtOnce);
  void CheckPrinter();
  // What keeps pages from paper at the printer, one line each; empty when nothing does.
  const QStringList& PrinterProblems() const { return FPrinterProblems; }
  // The last page or full text the spooler confirmed, as its Note says it after "printed: "
  // ("3 messages, job 12 on Office"); "" while none was.
  const QString& LastConfirmed() const { return FLastConfirmed; }

 signals:
  // Entries left the list (printed or cleared): the view shows Listed() again.
  void ListChanged();
  void PrinterProblemsChanged(const QStringList& problems);

 private:
  int UnsubmittedCount() const;
  TPendingJob FullTextJob(std::int64_t storeId, const QString& text, const QString& of = {});
  void SubmitFullText(TPendingJob job);
  void RetryFailedFullTexts();
  void SubmitJob(TPendingJob job, const QString& document, const QFont& font);
  // A page of any length, laid out in steps (TPrintJobs::PrintLines): the window and the
  // intake go on meanwhile; its end comes back through ListJobEnded.
  void SubmitList(TPendingJob job, std::vector<std::string> lines);
  // A job on its way to the printer, and whether its spooler's number is kept yet.
  struct THanding {
    TPendingJob Job;
    bool NumberKept = false;
  };
  void BeginStoredJob(TPendingJob& job, const std::string& document, const QUuid& token);
  TPrintJobs::TNumbered KeepNumber(const std::shared_ptr<THanding>& handing);
  // The printer took the job's page: it is followed at the spooler, or done.
  void Handed(THanding& handing, const TJobTicket& ticket);
  void ListJobEnded(THanding& handing, const TJobTicket& ticket, const QString& failure);
  void JobCompleted(const TPendingJob& job);
  void JobFailed(const TPendingJob& job, const QString& reason);
  // A job whose number was never kept, looked for by its token: found, it gets its ticket
  // and the spooler's answer; not found or not to be told, a failure (printed again).
  TSpoolAnswer FindUnfound(TPendingJob& job);
  void ReportSpoolFailure(const TPendingJob& job, const TSpoolAnswer& answer);

  TPrintQueueHost& FHost;
  TPageChoices FPageChoices;
  bool FDemo = false;
  QString FArchiveFolder;
  std::unique_ptr<TPrintJobs> FPrintJobs;
  QFont FListFont, FTextFont;
  std::vector<TListedEntry> FListed;
  std::vector<TPendingJob> FPendingJobs;
  std::vector<TPendingJob> FFailedFullTexts;  // printed again with the next page
  std::uint64_t FNextKey = 1;
  QTimer* FSpoolTimer = nullptr;
  int FJobFailures = 0;
  QString FLastJobFailure;
  // Failure kinds shown since a job last completed: one box per kind and printer.
  QSet<QString> FShownFailures;
  QTimer* FPrinterTimer = nullptr;
  QStringList FPrinterProblems;
  QString FLastConfirmed;
};

}  // namespace qm
