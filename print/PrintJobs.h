#pragma once
// Print jobs (message list and single texts) and the process-wide printer choice.

#include <QFont>
#include <QString>
#include <QStringList>
#include <QUuid>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <stdexcept>
#include <utility>

#include "print/LogPeriod.h"
#include "print/PrintTypes.h"

class QPrinter;
class QTimer;

namespace qm {

class TCupsJobEnds;

// A failed print operation; what() is the text the operator sees.
class EPrintError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// What the spooler took: the printer and its job number. SpoolerJob 0: no spooler to ask
// (a PDF file, or a platform without one), or on Windows a job the spooler did not list;
// the engine's own result decided.
struct TJobTicket {
  TJobTicket() = default;
  TJobTicket(QString printer, int spoolerJob, QUuid token = {})
      : Printer(std::move(printer)), SpoolerJob(spoolerJob), Token(token) {}

  QString Printer;  // the queue, or the PDF file written
  int SpoolerJob = 0;
  QUuid Token;  // the one PrintText was given, if any
};

enum class TSpoolState { ssPending, ssCompleted, ssFailed, ssUnreachable };
using enum TSpoolState;
// The kind of a failed job's failure: the same for every job that meets it, where the
// Reason names the job. Failures of one kind on one printer make one box.
enum class TSpoolFailure {
  sfNone,       // not failed
  sfCancelled,  // cancelled at the spooler (cancel N, cancel -a), also purged before it printed
  sfAborted,    // the spooler gave up on it (a filter or the printer failed)
  sfNoPage,     // it never received its page: the program was killed in between
  sfForgotten,  // the spooler forgot it without a word on how it ended
  sfNoSpooler,  // no spooler to ask (a platform without CUPS)
  sfOffline,    // its printer is offline (Windows): taken out of the queue, printed again
};
using enum TSpoolFailure;
struct TSpoolAnswer {
  TSpoolAnswer() = default;
  TSpoolAnswer(TSpoolState state, QString reason, TSpoolFailure failure = sfNone)
      : State(state), Reason(std::move(reason)), Failure(failure) {}

  TSpoolState State = ssPending;
  // Why failed or unreachable, in the operator's words; while pending, what the spooler
  // says about the job, if anything.
  QString Reason;
  TSpoolFailure Failure = sfNone;  // ssFailed: its kind
};

// One line for all the failures of a kind on `printer`, naming no job, for the one box the
// caller shows for them (the log keeps each Reason).
QString FailureKindText(TSpoolFailure failure, const QString& printer);

// What the spooler knows of the job that carries a token (TPrintJobs::FindJob).
enum class TFindState {
  fsFound,        // Ticket and Answer say which job and how it stands
  fsNotFound,     // no job carries it: the page never reached the spooler, or (without
                  // job history) it did and the spooler has forgotten it since
  fsUnreachable,  // no answer: ask again later
  fsCannotTell,   // no spooler keeps jobs there (a PDF file, a platform without CUPS)
};
using enum TFindState;
struct TFoundJob {
  TFindState State = fsNotFound;
  TJobTicket Ticket;    // fsFound: the job
  TSpoolAnswer Answer;  // fsFound: as JobState(Ticket) says
  QString Reason;       // fsUnreachable, fsCannotTell: why
};

// The current printer as the operator should know it: what keeps pages from paper there.
struct TPrinterState {
  bool CanTell = false;    // a spooler keeps the jobs; false for a PDF file or without CUPS,
                           // and then nothing below applies
  bool Reachable = false;  // the spooler answered; else Problems says why not
  bool Missing = false;    // the spooler has no such queue (removed since)
  bool Stopped = false;    // printer-state stopped: paused by an operator, or by a fault
  bool Paused = false;     // stopped by an operator (cupsdisable: "paused" among the reasons)
  bool Rejecting = false;  // not accepting jobs (cupsreject)
  int HeldJobs = 0;        // jobs of this user held in the queue (lp -H hold)
  QString Message;         // the spooler's own words about the printer, if any
  // One line per problem for the hint bar, the tray tip and the log ("The printer
  // Quillmark-PDF is paused: Out of paper"); empty when nothing keeps the pages back.
  QStringList Problems;
};

// The document of a text job: one empty line, then the text.
QString TextJobDocument(const QString& text);
// The document of a list job: each line ended by CR LF, then one empty line.
QString ListJobDocument(const QStringList& lines);

// One per process (window): the current printer and at most one open job. The printer may
// be changed while a job is open (between the steps of PrintLines); the open job keeps its
// printer. Nothing here lets the thread's other events run inside a job.
// Must not be destroyed while Busy().
class TPrintJobs {
 public:
  static inline const QString JobTitle = QStringLiteral("Quillmark");
  static inline const QString NoDefaultText =
      QStringLiteral("There is no default printer currently selected");
  static inline const QString NotValidText = QStringLiteral("Printer selected is not valid");
  static inline const QString InProgressText = QStringLiteral("Printing in progress");
  // Followed by ": " and the spooler's own words.
  static inline const QString RefusedText = QStringLiteral("The print spooler refused the job");
  // The pending reason of the job being handed over, asked about from `numbered`.
  static inline const QString SendingText = QStringLiteral("its page is being handed to the spooler");
  // The margin of an edge the device reports no unprintable strip for (a PDF file): 1/4 inch.
  static constexpr qreal MinimumPdfMarginPoints = 18.0;

  // QPrinterInfo's names in the order the system enumerates them.
  static QStringList InstalledPrinters();
  static TPrinterList SystemPrinters();
  // Removes the page files that jobs of killed runs left in the temporary folder: this user's,
  // named as the program names them, held by no running job. Answers how many went.
  static int RemoveLeftJobFiles();

  // The system's printers, read on first use (asking the spooler takes tens of
  // milliseconds, which the window's first paint need not wait for); not read again.
  TPrintJobs();
  // For tests: a given enumeration instead of the system's.
  explicit TPrintJobs(TPrinterList printers);
  ~TPrintJobs();
  TPrintJobs(const TPrintJobs&) = delete;
  TPrintJobs& operator=(const TPrintJobs&) = delete;

  // The printers read (the entries of the printer box).
  const QStringList& Printers() const {
    ReadPrinters();
    return FPrinters.Names;
  }
  bool HasDefault() const {
    ReadPrinters();
    return !FPrinters.DefaultName.isEmpty();
  }

  // Makes entry `index` of Printers() current; -1, or any index outside the list, goes back
  // to the system default. That without a system default leaves no printer and throws
  // NoDefaultText (the box typed into while its list is empty).
  void SelectPrinter(int index);
  // The printer jobs go to: the chosen entry, else the system default ("" when none).
  QString CurrentPrinterName() const {
    ReadPrinters();
    return FCurrentName;
  }
  int SelectedIndex() const { return FSelected; }

  // The set-up dialog works on a copy of the current printer; AcceptSetup makes that
  // copy (printer, paper, orientation, print-to-file ...) current for later jobs.
  // Without AcceptSetup (dialog cancelled) the current printer stays as it was.
  QPrinter& SetupPrinter();
  void AcceptSetup();
  // The printer the next job uses.
  const QPrinter& Printer() const {
    ReadPrinters();
    return *FPrinter;
  }

  // Non-empty: jobs write a PDF file there instead of going to a printer.
  void SetOutputFile(const QString& path);
  QString OutputFile() const { return FOutputFile; }
  // Non-empty: every job becomes a PDF file of its own in this folder (created when missing),
  // "quillmark-<yyyyMMdd-HHmmss>-<n>.pdf", instead of going to a printer. OutputFile wins.
  void SetOutputFolder(const QString& dir) { FOutputFolder = dir; }
  QString OutputFolder() const { return FOutputFolder; }

  // Non-empty: every job that goes to a printer is also kept as a PDF file in this archive
  // folder (TPdfArchive). A copy that cannot be written never fails the job: ArchiveFailed hears it.
  void SetArchiveFolder(const QString& dir) { FArchiveFolder = dir; }
  QString ArchiveFolder() const { return FArchiveFolder; }
  std::function<void(const QString&)> ArchiveFailed;
  // The copy the last job left in the archive, or "".
  QString LastArchived() const { return FLastArchived; }

  // What stands around the text on every page of the jobs that follow (see TPageFrame).
  void SetPageFrame(TPageFrame frame) { FFrame = std::move(frame); }
  const TPageFrame& PageFrame() const { return FFrame; }

  // Called with the spooler's job number before the page is handed over, so that the caller
  // can keep the number first: a kill after that point leaves a number to ask about, a kill
  // before it a job without a page. A throw from it cancels that job and leaves PrintText.
  using TNumbered = std::function<void(const TJobTicket&)>;

  // Prints `text` as one job: every CR, CR LF or LF ends a line (a break at the very end
  // starts no further line); a line wider than the page continues on the next printed
  // lines, indented by four blanks. Throws EPrintError, also when the spooler refuses the
  // job (RefusedText). With CUPS the job is rendered to a PDF file and handed to the
  // spooler, whose job number the ticket carries; a spooler that does not answer within
  // about ten seconds counts as refusing. Elsewhere the printer's own engine prints it.
  // A non-null `token` goes with the job to the spooler (its job-uuid), where FindJob finds
  // it again; `numbered` is called only for a job that goes to a spooler. A page the
  // spooler got no chance to confirm (it froze while taking it) is not an error: JobState
  // follows it, and it prints or fails there, once.
  // On Windows the printer's engine prints the job, which is then looked for among the
  // printer's jobs (its title, its user, its submission time); `numbered` is not called, and
  // a job the spooler does not list leaves SpoolerJob 0 (taken by the spooler).
  TJobTicket PrintText(const QString& text, const QFont& font, const QString& title = JobTitle,
                       const QUuid& token = {}, const TNumbered& numbered = {});

  // A job's lines one at a time, for PrintLines; false once there are no more.
  using TLineSource = std::function<bool(QString& line)>;
  // How a job laid out in steps ended: its ticket, or why it failed (the ticket empty).
  using TJobDone = std::function<void(const TJobTicket& ticket, const QString& failure)>;
  // The first step of PrintLines lays out this many lines at once; each later one as many, or
  // what kStepTime allows, whichever ends first.
  static constexpr int kStepLines = 1000;
  static constexpr std::chrono::milliseconds kStepTime{25};
  // As PrintText, for a job of any length: each line `source` gives is a line of the text
  // (none holds a break). A job laid out within its first step ends at once: its ticket is
  // returned, its failure thrown, and `done` is not called. A longer one is laid out a step at
  // a time from the event loop, and nothing else, so the thread's other events wait at most a
  // step; it returns nothing, and `done` hears once how it ended (from the event loop).
  // Busy() until then. The printer's own engine (no CUPS, no PDF file) prints it at once.
  std::optional<TJobTicket> PrintLines(TLineSource source, const QFont& font, const QString& title,
                                       const QUuid& token, TNumbered numbered, TJobDone done);
  // A job PrintLines still lays out: dropped, no page leaves, `done` is not called.
  void Abandon();
  bool LayingOut() const { return FRun != nullptr; }
  // Asks the spooler how the job stands; bounded to about 2 seconds. SpoolerJob 0 is
  // ssCompleted. A spooler that does not answer is ssUnreachable: its jobs may come back
  // when it is started again, so the job is not yet lost. A job that was given a number but
  // never its page (the program was killed in between) is cancelled and ssFailed. A job the
  // spooler no longer knows (no job history, purged) is ssCompleted when the spooler's
  // events say it completed, ssFailed when they say it was cancelled or aborted, and
  // ssFailed too (printed again rather than lost) when no event of it is left.
  // On Windows a failed job still in the queue (error, driver blocked, printer offline) is
  // taken out of it; a job gone from the queue is ssCompleted (see WinJobGoneAnswer).
  TSpoolAnswer JobState(const TJobTicket& ticket) const;
  // Asks the spooler how the current printer stands (see TPrinterState); bounded to about
  // 1.5 seconds and two small requests, so it may be asked every few seconds.
  TPrinterState PrinterState() const;
  // The job on queue `printer` that carries `token`, for a job whose number was never kept.
  // Bounded to about 4 seconds. A job found without its page is cancelled (as by JobState).
  TFoundJob FindJob(const QString& printer, const QUuid& token) const;
  bool Busy() const { return FBusy; }
  TPrintStats LastJob() const { return FLastJob; }

 private:
  // The printers and the printer objects, made once, when first needed.
  void ReadPrinters() const;
  void MakeCurrent(const QString& name) const;
  void LayOut(QPrinter& printer, const QString& text, const QFont& font);
  // Whether the current printer can take a job that goes to it (no file, no folder).
  void RequireUsable(const QPrinter& printer) const;
  // PrintLines' job: at most `lines` more lines, and with a bound no longer than it; true
  // when the source has none left. Throws as LayOut does.
  bool Step(int lines, std::optional<std::chrono::milliseconds> bound);
  void NextStep();
  // The end of PrintLines' job: the page closed and, for CUPS, handed over. Throws as
  // PrintText does; the job is gone either way.
  TJobTicket FinishRun();
  void PrepareJob(QPrinter& printer, const QString& title) const;
  // A free name for the next job's file in the output folder, created when missing.
  QString NewFolderPdf() const;
  // Lays the job out into a PDF file, on the page `settings` describe.
  void PrintToPdf(const QPrinter& settings, const QString& file, const QString& text, const QFont& font,
                  const QString& title);
  // Copies the job's PDF file into the archive, or lays the job out there when `pdf` is empty.
  void Archive(const QString& pdf, int spoolerJob, const QPrinter& settings, const QString& text,
               const QFont& font, const QString& title);

  // Mutable: filled by ReadPrinters on first use.
  mutable bool FRead = false;
  mutable TPrinterList FPrinters;
  int FSelected = -1;
  mutable QString FCurrentName;
  // Shared with an open job, so a printer chosen between its steps replaces it only for later
  // jobs.
  mutable std::shared_ptr<QPrinter> FPrinter;
  std::unique_ptr<QPrinter> FSetup;
  // Writes the PDF files of jobs that go to a file or to the spooler.
  mutable std::unique_ptr<QPrinter> FPdf;
  QString FOutputFile;
  QString FOutputFolder;
  QString FArchiveFolder;
  QString FLastArchived;
  TPageFrame FFrame;
  bool FBusy = false;
  // The job PrintText is handing over (from its number on), else 0.
  int FSendingJob = 0;
#ifdef QM_HAVE_CUPS
  // How the jobs ended that the spooler forgets; asked from JobState.
  std::unique_ptr<TCupsJobEnds> FJobEnds;
#endif
  // Windows: the jobs (printer, number) seen printing, so that one gone since has printed.
  mutable std::set<std::pair<QString, int>> FSeenPrinting;
  TPrintStats FLastJob;
  // The job PrintLines lays out, and the timer of its next step.
  struct TRun;
  std::unique_ptr<TRun> FRun;
  std::unique_ptr<QTimer> FStepTimer;
};

}  // namespace qm
