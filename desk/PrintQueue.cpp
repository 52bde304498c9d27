// The list's way to paper: jobs handed to the printer leave the list only when the spooler
// confirms them; a job it turns down leaves its entries listed for the next page and says so
// once.
#include "desk/PrintQueue.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTimer>
#include <algorithm>
#include <cstdio>

#include "base/KillPoint.h"
#include "base/ProgramText.h"
#include "print/ProgramFont.h"
#include "select/EntryLines.h"

namespace qm {
namespace {

bool IsSeparator(char16_t c) {
  return c == u'\r' || c == u'\n' || c == 0x0B || c == 0x0C || c == 0x85 || c == 0x2028 || c == 0x2029;
}

}  // namespace

QString ListLineText(const std::string& line) {
  QString text = DisplayText(line);
  for (QChar& c : text)
    if (IsSeparator(c.unicode())) c = u' ';
  return text;
}

TPrintQueue::TPrintQueue(TPrintQueueHost& host, std::unique_ptr<TPrintJobs> printJobs,
                         std::chrono::milliseconds spoolPoll)
    : FHost(host), FPrintJobs(std::move(printJobs)) {
  FSpoolTimer = new QTimer(this);
  FSpoolTimer->setInterval(static_cast<int>(spoolPoll.count()));
  connect(FSpoolTimer, &QTimer::timeout, this, [this] { FollowPendingJobs(); });
}

TPrintQueue::~TPrintQueue() {
  StopFollowing();
}

void TPrintQueue::StopFollowing() {
  // Nothing is printed on the way out: the job's entries stay unprinted for the next start.
  FPrintJobs->Abandon();
  FSpoolTimer->stop();
  if (FPrinterTimer) FPrinterTimer->stop();
}

std::string ListDocumentText(const std::vector<std::string>& lines, bool ended) {
  std::size_t size = 2;
  for (const std::string& line : lines) size += line.size() + 2;
  std::string document;
  document.reserve(size);
  for (const std::string& line : lines) {
    // ASCII without a separator shows as it is: no need to go through the display text.
    const bool plain = std::all_of(line.begin(), line.end(), [](char c) {
      const auto b = static_cast<unsigned char>(c);
      return b < 0x80 && b != '\r' && b != '\n' && b != 0x0B && b != 0x0C;
    });
    document += plain ? line : ProgramText(ListLineText(line));
    document += "\r\n";
  }
  return ended ? document + "\r\n" : document;
}

// --- The printer ----------------------------------------------------------------------------

void TPrintQueue::WatchPrinter(std::chrono::milliseconds every, TFirstPrinterCheck first) {
  if (!FPrinterTimer) {
    FPrinterTimer = new QTimer(this);
    connect(FPrinterTimer, &QTimer::timeout, this, [this] { CheckPrinter(); });
  }
  FPrinterTimer->setInterval(static_cast<int>(every.count()));
  FPrinterTimer->start();
  if (first == ppAtOnce) QTimer::singleShot(0, this, [this] { CheckPrinter(); });
}

void TPrintQueue::CheckPrinter() {
  // Asked again with the next tick while a job is being handed over.
  if (FPrintJobs->Busy()) return;
  const TPrinterState state = FPrintJobs->PrinterState();
  const QStringList problems = state.CanTell ? state.Problems : QStringList();
  if (problems == FPrinterProblems) return;
  // Logged once when a problem appears and once when it has gone.
  for (const QString& line : problems)
    if (!FPrinterProblems.contains(line)) FHost.LogMessage(line.toStdString());
  for (const QString& line : FPrinterProblems)
    if (!problems.contains(line)) FHost.LogMessage(("No longer so: " + line).toStdString());
  FPrinterProblems = problems;
  emit PrinterProblemsChanged(FPrinterProblems);
}

void TPrintQueue::SetFonts(const QFont& list, const QFont& text) {
  FListFont = list;
  FTextFont = text;
}

QStringList TPrintQueue::ListedLines() const {
  QStringList lines;
  for (const TListedEntry& entry : FListed)
    for (const std::string& line : entry.Lines) lines << ListLineText(line);
  return lines;
}

void TPrintQueue::Add(TListedEntry entry) {
  FListed.push_back(std::move(entry));
}

int TPrintQueue::UnsubmittedCount() const {
  return static_cast<int>(
      std::count_if(FListed.begin(), FListed.end(), [](const TListedEntry& e) { return e.Job == 0; }));
}

// --- Restore ----------------------------------------------------------------------------

void TPrintQueue::Restore() {
  FHost.WithMessageStore([this](TDurableStore& store) {
    // A job of an older build that the spooler never took is printed again; one it took is
    // followed to its end; one whose number was never kept is looked for by its token first.
    store.FailPendingWithoutSpooler("The program ended before the spooler took the job");
    bool spoolerDown = false;
    for (const TStoredJob& stored : store.PendingJobs()) {
      if (stored.SpoolerJob != 0 || stored.Token.empty() || spoolerDown) continue;
      TPendingJob probe;
      probe.Ticket = TJobTicket{QString::fromStdString(stored.Printer), 0, QUuid::fromString(stored.Token)};
      probe.Unfound = true;
      const TSpoolAnswer answer = FindUnfound(probe);
      if (!probe.Unfound) {
        store.SetSpoolerJob(stored.Id, probe.Ticket.SpoolerJob);
      } else if (answer.State == ssUnreachable) {
        spoolerDown = true;  // asked again while followed
      } else {
        store.FailJob(stored.Id, answer.Reason.toStdString());
        FHost.LogMessage(("Printing again: " + answer.Reason).toStdString());
      }
    }
    std::vector<TPendingJob> jobs;
    for (const TStoredJob& stored : store.PendingJobs()) {
      TPendingJob job;
      job.Key = NextKey();
      job.StoreJob = stored.Id;
      job.Kind = stored.Kind;
      job.Ticket = TJobTicket{QString::fromStdString(stored.Printer), static_cast<int>(stored.SpoolerJob),
                              QUuid::fromString(stored.Token)};
      job.Unfound = stored.SpoolerJob == 0;
      if (stored.Kind == jkFullText) {
        job.FullTextOf = stored.Messages.empty() ? 0 : stored.Messages.front();
        job.Document = DisplayText(stored.Document);
      }
      jobs.push_back(std::move(job));
    }
    std::vector<TListedEntry> listed;
    for (const TStoredMessage& m : store.Listed()) {
      TListedEntry entry;
      entry.Key = NextKey();
      entry.StoreId = m.Id;
      entry.Lines[0] = m.Line1;
      entry.Lines[1] = m.Line2;
      entry.Lines[2] = m.Line3;
      entry.NwsWords = m.NwsWords;
      entry.NwsExpiresUtc = m.NwsExpiresUtc;
      for (TPendingJob& job : jobs)
        if (m.PrintState == psInJob && job.Kind == jkList && job.StoreJob == m.JobId) entry.Job = job.Key;
      listed.push_back(std::move(entry));
    }
    std::vector<TPendingJob> fullTexts;
    for (const TStoredMessage& m : store.FullTextsUnprinted()) {
      const bool inJob = std::any_of(jobs.begin(), jobs.end(), [&](const TPendingJob& j) {
        return j.Kind == jkFullText && j.FullTextOf == m.Id;
      });
      if (inJob) continue;
      fullTexts.push_back(
          FullTextJob(m.Id, DisplayText(FullTextDocument(m.Line1, m.Line3, m.FullText)),
                      QString::fromStdString("the alert " + AlertName(m.Source, m.MessageId))));
    }
    FListed = std::move(listed);
    FPendingJobs = std::move(jobs);
    FFailedFullTexts = std::move(fullTexts);
  });
  if (!FPendingJobs.empty()) FSpoolTimer->start();
}

// --- Pages --------------------------------------------------------------------------------

void TPrintQueue::PrintNow() {
  RetryFailedFullTexts();
  // Entries already in a job wait for the spooler; the others make this page.
  TPendingJob job;
  job.Key = NextKey();
  job.Kind = jkList;
  std::vector<std::string> lines;
  for (TListedEntry& entry : FListed) {
    if (entry.Job != 0) continue;
    entry.Job = job.Key;
    lines.insert(lines.end(), std::begin(entry.Lines), std::end(entry.Lines));
    if (FPageChoices.NwsWordsLine && !entry.NwsWords.empty()) lines.push_back(entry.NwsWords);
  }
  if (lines.empty()) return;
  SubmitList(std::move(job), std::move(lines));
}

void TPrintQueue::PrepareJob(const QString& reprintOf) {
  TPageFrame frame;
  frame.HeaderFooter = FPageChoices.HeaderFooter;
  frame.Station = QString::fromStdString(FPageChoices.Station);
  frame.PrintedUtc = MinuteText(FHost.Now(tfUTC)) + QStringLiteral(" UTC");
  if (FPageChoices.ReprintMark && !reprintOf.isEmpty())
    frame.Mark = QStringLiteral("REPRINT of ") + reprintOf;
  FPrintJobs->SetPageFrame(std::move(frame));
  FPrintJobs->SetArchiveFolder(FArchiveFolder);
  FPrintJobs->ArchiveFailed = [this](const QString& reason) {
    // The page is printed; only its copy is missing.
    FHost.LogMessage(reason.toStdString());
    FHost.Hint(reason);
  };
}

std::string TPrintQueue::CheckPage() {
  const TPageChoices& choices = FPageChoices;
  if (choices.PrintingDisabled) return {};
  // A job still spooling takes no second one; the page check runs again when it is done.
  if (FPrintJobs->Busy()) return {};
  if (UnsubmittedCount() <= PageLimit(choices.PageSetting)) return {};
  try {
    PrintNow();
  } catch (const std::exception& e) {
    FHost.ReportFailureOnce(QString::fromUtf8(e.what()), false);
    return std::string("Printing failed: ") + e.what();
  }
  return {};
}

void TPrintQueue::Clear(std::int64_t keep) {
  FHost.WithMessageStore([keep](TDurableStore& store) { store.ClearListed(keep); });
  FListed.clear();
  emit ListChanged();
}

void TPrintQueue::DropDemo() {
  if (std::erase_if(FListed, [](const TListedEntry& e) { return e.Demo; }) > 0) emit ListChanged();
}

// --- Jobs -----------------------------------------------------------------------------------

TPendingJob TPrintQueue::FullTextJob(std::int64_t storeId, const QString& text, const QString& of) {
  TPendingJob job;
  job.Of = of;
  job.Key = NextKey();
  job.Kind = jkFullText;
  job.FullTextOf = storeId;
  job.Document = TextJobDocument(text);
  return job;
}

void TPrintQueue::SubmitFullText(TPendingJob job) {
  const QString document = job.Document;
  SubmitJob(std::move(job), document, FullTextFont());
}

QFont TPrintQueue::FullTextFont() const {
  if (!FPageChoices.FixedPitchFullText) return FTextFont;
  // The text's size in the list's typewriter family, so that an NWS product keeps its columns.
  QFont fixed =
      ProgramFont(QStringLiteral("Courier New"), FTextFont.pointSize() > 0 ? FTextFont.pointSize() : 10);
  fixed.setFixedPitch(true);
  return fixed;
}

void TPrintQueue::PrintText(std::int64_t storeId, const QString& document, const QString& of) {
  // Printed once the page being laid out is handed over: no failure to tell meanwhile.
  if (LayingOut()) {
    FFailedFullTexts.push_back(FullTextJob(storeId, document, of));
    return;
  }
  SubmitFullText(FullTextJob(storeId, document, of));
}

void TPrintQueue::RetryFailedFullTexts() {
  std::vector<TPendingJob> failed;
  failed.swap(FFailedFullTexts);
  for (std::size_t i = 0; i < failed.size(); ++i) {
    try {
      SubmitFullText(failed[i]);
    } catch (...) {
      // The failed one is queued again by JobFailed; the rest keep their order behind it.
      FFailedFullTexts.insert(FFailedFullTexts.end(), failed.begin() + static_cast<std::ptrdiff_t>(i + 1),
                              failed.end());
      throw;
    }
  }
}

void TPrintQueue::BeginStoredJob(TPendingJob& job, const std::string& document, const QUuid& token) {
  std::vector<std::int64_t> ids;
  if (job.Kind == jkList) {
    for (const TListedEntry& entry : FListed)
      if (entry.Job == job.Key && entry.StoreId != 0) ids.push_back(entry.StoreId);
  } else if (job.FullTextOf != 0) {
    ids.push_back(job.FullTextOf);
  }
  job.StoreJob = 0;
  if (!FDemo)
    FHost.WithMessageStore([&](TDurableStore& store) {
      job.StoreJob =
          store.BeginJob(job.Kind, ids, FPrintJobs->CurrentPrinterName().toStdString(), FHost.Now(tfUTC),
                         document, token.toString(QUuid::WithoutBraces).toStdString());
    });
}

TPrintJobs::TNumbered TPrintQueue::KeepNumber(const std::shared_ptr<THanding>& handing) {
  return [this, handing](const TJobTicket& ticket) {
    if (handing->Job.StoreJob != 0)
      FHost.WithMessageStore([&](TDurableStore& store) {
        // The job's start (its token) is in the file before the spooler gets the page.
        store.WaitForCommits();
        store.SetSpoolerJob(handing->Job.StoreJob, ticket.SpoolerJob);
      });
    handing->NumberKept = true;
  };
}

void TPrintQueue::SubmitJob(TPendingJob job, const QString& document, const QFont& font) {
  // The token is kept before the page leaves and the number before the spooler gets the page,
  // so a kill at any point leaves a job the next start can find rather than print twice.
  const QUuid token = QUuid::createUuid();
  BeginStoredJob(job, ProgramText(document), token);
  PrepareJob();
  const auto handing = std::make_shared<THanding>(THanding{std::move(job)});
  TJobTicket ticket;
  try {
    KillPoint();
    ticket = FPrintJobs->PrintText(document, font, TPrintJobs::JobTitle, token, KeepNumber(handing));
  } catch (const std::exception& e) {
    JobFailed(handing->Job, QString::fromUtf8(e.what()));
    throw;
  }
  Handed(*handing, ticket);
}

void TPrintQueue::SubmitList(TPendingJob job, std::vector<std::string> lines) {
  const QUuid token = QUuid::createUuid();
  // The page's text for the store is made as it is laid out, and kept before the page leaves.
  BeginStoredJob(job, std::string(), token);
  PrepareJob();
  const auto handing = std::make_shared<THanding>(THanding{std::move(job)});
  // Each entry's lines as listed, then the empty line that ends a page; shown a step at a time.
  TPrintJobs::TLineSource source = [this, handing, lines = std::move(lines), next = std::size_t{0},
                                    document = std::string()](QString& line) mutable {
    if (next < lines.size()) {
      line = ListLineText(lines[next]);
      document += ListDocumentText({lines[next]}, false);
      ++next;
      return true;
    }
    if (next++ > lines.size()) return false;
    line.clear();
    document += "\r\n";
    if (handing->Job.StoreJob != 0)
      FHost.WithMessageStore(
          [&](TDurableStore& store) { store.SetJobDocument(handing->Job.StoreJob, std::move(document)); });
    return true;
  };
  std::optional<TJobTicket> ticket;
  try {
    KillPoint();
    ticket = FPrintJobs->PrintLines(
        std::move(source), FListFont, TPrintJobs::JobTitle, token, KeepNumber(handing),
        [this, handing](const TJobTicket& t, const QString& failure) { ListJobEnded(*handing, t, failure); });
  } catch (const std::exception& e) {
    JobFailed(handing->Job, QString::fromUtf8(e.what()));
    throw;
  }
  if (ticket) Handed(*handing, *ticket);
}

void TPrintQueue::ListJobEnded(THanding& handing, const TJobTicket& ticket, const QString& failure) {
  if (!failure.isEmpty()) {
    // As CheckPage tells a page that fails at once.
    JobFailed(handing.Job, failure);
    FHost.ReportFailureOnce(failure, false);
    return;
  }
  Handed(handing, ticket);
  // Full texts that came while the page was laid out follow it.
  try {
    RetryFailedFullTexts();
  } catch (const std::exception& e) {
    FHost.ReportFailureOnce(QString::fromUtf8(e.what()), false);
  }
}

void TPrintQueue::Handed(THanding& handing, const TJobTicket& ticket) {
  TPendingJob job = std::move(handing.Job);
  job.Ticket = ticket;
  if (!handing.NumberKept && job.Ticket.SpoolerJob != 0 && job.StoreJob != 0)
    FHost.WithMessageStore(
        [&](TDurableStore& store) { store.SetSpoolerJob(job.StoreJob, job.Ticket.SpoolerJob); });
  if (job.Ticket.SpoolerJob == 0) {
    JobCompleted(job);  // no spooler to ask: the engine's own result decided
    return;
  }
  FPendingJobs.push_back(std::move(job));
  FSpoolTimer->start();
}

void TPrintQueue::JobCompleted(const TPendingJob& job) {
  // A failure that comes back after a page went through is a new outage: shown again.
  FShownFailures.clear();
  FHost.ForgetReportedFailure();
  if (job.StoreJob != 0)
    FHost.WithMessageStore([&](TDurableStore& store) { store.CompleteJob(job.StoreJob); });
  const QString where =
      job.Ticket.SpoolerJob > 0
          ? QStringLiteral("job %1 on %2").arg(job.Ticket.SpoolerJob).arg(job.Ticket.Printer)
          : QStringLiteral("on %1").arg(job.Ticket.Printer);
  // Kept as the log has it, in the program's text.
  auto confirmed = [this](const QString& what, const QString& words) {
    const std::string kept = ProgramText(words);
    FLastConfirmed = DisplayText(kept);
    FHost.Note(ProgramText(what) + kept);
  };
  if (job.Kind != jkList) {
    const QString of = job.Of.isEmpty() ? QString() : job.Of + (job.Ticket.SpoolerJob > 0 ? ", " : " ");
    confirmed(QStringLiteral("Full text printed: "), of + where);
    return;
  }
  const auto before = FListed.size();
  std::erase_if(FListed, [&](const TListedEntry& e) { return e.Job == job.Key; });
  confirmed(QStringLiteral("Page printed: "),
            QStringLiteral("%1 messages, %2").arg(before - FListed.size()).arg(where));
  if (FListed.size() != before) {
    emit ListChanged();
    FHost.UpdateCount();
  }
  // Entries that came while it spooled may make the next page already.
  QMetaObject::invokeMethod(
      this,
      [this] {
        if (FHost.Idle()) CheckPage();
      },
      Qt::QueuedConnection);
}

void TPrintQueue::JobFailed(const TPendingJob& job, const QString& reason) {
  ++FJobFailures;
  FLastJobFailure = reason;
  if (job.StoreJob != 0)
    FHost.WithMessageStore([&](TDurableStore& store) { store.FailJob(job.StoreJob, reason.toStdString()); });
  if (job.Kind == jkList) {
    for (TListedEntry& entry : FListed)
      if (entry.Job == job.Key) entry.Job = 0;
  } else {
    TPendingJob again = job;
    again.Ticket = {};
    again.StoreJob = 0;
    FFailedFullTexts.push_back(std::move(again));
  }
  const QString text = QStringLiteral("Printing failed: ") + reason;
  FHost.Note(text.toStdString());
  FHost.Hint(text);
}

void TPrintQueue::FollowPendingJobs() {
  std::vector<std::uint64_t> keys;
  for (const TPendingJob& job : FPendingJobs) keys.push_back(job.Key);
  for (std::uint64_t key : keys) {
    auto it = std::find_if(FPendingJobs.begin(), FPendingJobs.end(),
                           [key](const TPendingJob& j) { return j.Key == key; });
    if (it == FPendingJobs.end()) continue;
    const bool wasUnfound = it->Unfound;
    TSpoolAnswer answer;
    if (wasUnfound) {
      answer = FindUnfound(*it);
      if (!it->Unfound && it->StoreJob != 0)
        FHost.WithMessageStore(
            [&](TDurableStore& store) { store.SetSpoolerJob(it->StoreJob, it->Ticket.SpoolerJob); });
    } else {
      KillPoint();
      answer = FPrintJobs->JobState(it->Ticket);
    }
    if (answer.State == ssCompleted || answer.State == ssFailed) {
      const TPendingJob job = std::move(*it);
      FPendingJobs.erase(it);
      if (answer.State == ssCompleted) {
        JobCompleted(job);
      } else {
        JobFailed(job, answer.Reason);
        // A page that never reached the spooler is simply printed again: nothing to show.
        if (!(wasUnfound && job.Unfound)) ReportSpoolFailure(job, answer);
      }
    } else if (answer.State == ssUnreachable && !it->ToldUnreachable) {
      // The spooler keeps its jobs over a restart: wait for it rather than print twice.
      it->ToldUnreachable = true;
      const QString text = QStringLiteral("Waiting for the print spooler (job %1): %2")
                               .arg(it->Ticket.SpoolerJob)
                               .arg(answer.Reason);
      FHost.LogMessage(text.toStdString());
      FHost.Hint(text);
    }
  }
  if (FPendingJobs.empty()) FSpoolTimer->stop();
}

TSpoolAnswer TPrintQueue::FindUnfound(TPendingJob& job) {
  KillPoint();
  const TFoundJob found = FPrintJobs->FindJob(job.Ticket.Printer, job.Ticket.Token);
  switch (found.State) {
    case fsFound:
      job.Ticket = found.Ticket;
      job.Unfound = false;
      FHost.LogMessage(QStringLiteral("Job %1 on %2 of an earlier run was found at the print spooler")
                           .arg(found.Ticket.SpoolerJob)
                           .arg(found.Ticket.Printer)
                           .toStdString());
      return found.Answer;
    case fsUnreachable:
      return TSpoolAnswer(ssUnreachable, found.Reason);
    case fsNotFound:
      return TSpoolAnswer(ssFailed, QStringLiteral("the print spooler has no job of an earlier run on %1 "
                                                   "(its page never reached it)")
                                        .arg(job.Ticket.Printer));
    case fsCannotTell:
      break;
  }
  return TSpoolAnswer(ssFailed,
                      QStringLiteral("whether a job of an earlier run reached %1 cannot be told: %2")
                          .arg(job.Ticket.Printer, found.Reason));
}

void TPrintQueue::ReportSpoolFailure(const TPendingJob& job, const TSpoolAnswer& answer) {
  // Jobs that fail the same way make one box; the log keeps each job's reason.
  const QString text =
      answer.Failure == sfNone ? answer.Reason : FailureKindText(answer.Failure, job.Ticket.Printer);
  if (FShownFailures.contains(text)) return;
  FShownFailures.insert(text);
  FHost.ReportFailureOnce(text, false);
}

QString TPrintQueue::WaitForPendingJobs(std::chrono::milliseconds bound) {
  // The caller's own wait (a test, the end of a run), never a step of a job: the steps of a
  // page being laid out and the spooler's answers come from the events run here.
  const int failuresBefore = FJobFailures;
  FLastJobFailure.clear();
  QElapsedTimer timer;
  timer.start();
  while ((!FPendingJobs.empty() || LayingOut()) && timer.elapsed() < bound.count()) {
    FollowPendingJobs();
    if (FPendingJobs.empty() && !LayingOut()) break;
    QCoreApplication::processEvents(QEventLoop::AllEvents,
                                    static_cast<int>(std::min<std::int64_t>(FSpoolTimer->interval(), 100)));
  }
  return FJobFailures == failuresBefore ? QString() : FLastJobFailure;
}

void TPrintQueue::KeepUnprintedForNextStart() {
  // Nothing is printed or waited for on the way out: the store keeps the list, and a job
  // already with the spooler is followed again at the next start. Only what the store really
  // holds is counted as kept.
  FPrintJobs->Abandon();
  std::vector<std::int64_t> listed;
  for (const TListedEntry& entry : FListed)
    if (!entry.Demo) listed.push_back(entry.StoreId);
  // Also on standard error (the journal): the log may be on the disk that failed the store.
  const auto say = [this](const std::string& line) {
    FHost.LogMessage(line);
    std::fprintf(stderr, "%s\n", line.c_str());
  };
  if (TDurableStore* store = FHost.OpenedStore())
    for (const std::string& line : store->EndOfRunLines(listed)) say(line);
  else if (!listed.empty())
    say(KeptForNextStartText(0, listed.size()));
}

}  // namespace qm
