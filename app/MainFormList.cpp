// The message list as the store keeps it, and its way to paper: jobs handed to the printer
// leave the list only when the spooler confirms them; a job it turns down leaves its entries
// listed for the next page and says so once.
#include <QCheckBox>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTimer>
#include <algorithm>
#include <filesystem>

#include "app/ErrorBox.h"
#include "app/MainForm.h"
#include "base/PrivateFiles.h"
#include "print/PdfArchive.h"
#include "select/EntryLines.h"
#include "widgets/ProgramText.h"

namespace qm {
namespace {

constexpr const char* kStoreFileName = "Quillmark-messages.db";
// Stored messages go with the log files of the same age.
constexpr int kPurgeDays = 14;

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

// --- The store ----------------------------------------------------------------------

void TMainForm::OpenStore() {
  std::string path = FSetup.StoreFile;
  if (path.empty()) {
    const std::filesystem::path dir =
        FPaths.LogDir.empty() ? std::filesystem::path(".") : std::filesystem::path(FPaths.LogDir);
    std::error_code ignored;
    MakePrivateFolders(dir.string(), ignored);  // a failure shows when the store opens
    path = (dir / kStoreFileName).string();
  }
  // A failing store is said once and tried again; the messages go on to the list and paper.
  FStore = std::make_unique<TDurableStore>(path, [this](const std::string& note, bool trouble) {
    LogMessage(note);
    SetHintText(QString::fromStdString(note));
    if (trouble) ReportFailureOnce(QString::fromStdString(note), false);
  });
  PurgeStore(Now(tfUTC));
}

bool TMainForm::WithMessageStore(const std::function<void(TDurableStore&)>& work) {
  if (!FStore) return false;
  try {
    work(*FStore);
    FLastStoreFailure.clear();
    return true;
  } catch (const std::exception& e) {
    // The message goes on to the list, the log and paper; only its durable copy is missing.
    const QString text = QStringLiteral("The message store failed: ") + QString::fromUtf8(e.what());
    LogMessage(text.toStdString());
    if (text != FLastStoreFailure) {
      FLastStoreFailure = text;
      SetHintText(text);
      ReportFailureOnce(text, false);
    }
    return false;
  }
}

std::int64_t TMainForm::KeepInStore(const TAprsMsgPacket& packet, const TListedEntry& entry) {
  TStoredMessage m;
  m.LocalTime = Now(tfLocal);
  m.UtcTime = Now(tfUTC);
  m.Source = packet.Source.FullCall;
  m.Destination = packet.Destination.FullCall;
  m.Path = packet.Path;
  m.Addressee = packet.Addressee;
  m.MessageText = packet.MessageText;
  m.MessageId = packet.MessageId;
  m.Kind = static_cast<int>(packet.Kind);
  m.State = packet.State;
  m.RawText = packet.RawText;
  m.Line1 = entry.Lines[0];
  m.Line2 = entry.Lines[1];
  m.Line3 = entry.Lines[2];
  std::int64_t id = 0;
  WithMessageStore([&](TDurableStore& store) { id = store.Add(m); });
  return id;
}

void TMainForm::PurgeStore(TDateTime utc) {
  FPurgeDay = static_cast<int>(utc);
  WithMessageStore([&](TDurableStore& store) { store.Purge(utc - kPurgeDays); });
  TPdfArchive(ArchiveFolder()).Purge(QDate::currentDate(), kPurgeDays);
}

void TMainForm::RestoreListed() {
  if (!FStore) return;
  WithMessageStore([this](TDurableStore& store) {
    // A job the spooler never took is printed again; one it took is followed to its end.
    store.FailPendingWithoutSpooler("The program ended before the spooler took the job");
    std::vector<TPendingJob> jobs;
    for (const TStoredJob& stored : store.PendingJobs()) {
      TPendingJob job;
      job.Key = FNextKey++;
      job.StoreJob = stored.Id;
      job.Kind = stored.Kind;
      job.Ticket = TJobTicket{QString::fromStdString(stored.Printer), static_cast<int>(stored.SpoolerJob)};
      if (stored.Kind == jkFullText) {
        job.FullTextOf = stored.Messages.empty() ? 0 : stored.Messages.front();
        job.Document = DisplayText(stored.Document);
      }
      jobs.push_back(std::move(job));
    }
    std::vector<TListedEntry> listed;
    for (const TStoredMessage& m : store.Listed()) {
      TListedEntry entry;
      entry.Key = FNextKey++;
      entry.StoreId = m.Id;
      entry.Lines[0] = m.Line1;
      entry.Lines[1] = m.Line2;
      entry.Lines[2] = m.Line3;
      for (TPendingJob& job : jobs)
        if (m.PrintState == psInJob && job.Kind == jkList && job.StoreJob == m.JobId) {
          entry.Job = job.Key;
        }
      listed.push_back(std::move(entry));
    }
    std::vector<TPendingJob> fullTexts;
    for (const TStoredMessage& m : store.FullTextsUnprinted()) {
      const bool inJob = std::any_of(jobs.begin(), jobs.end(), [&](const TPendingJob& j) {
        return j.Kind == jkFullText && j.FullTextOf == m.Id;
      });
      if (inJob) continue;
      fullTexts.push_back(FullTextJob(m.Id, DisplayText(FullTextDocument(m.Line1, m.Line3, m.FullText))));
    }
    FListed = std::move(listed);
    FPendingJobs = std::move(jobs);
    FFailedFullTexts = std::move(fullTexts);
  });
  if (!FListed.empty()) {
    LogMessage(std::to_string(FListed.size()) + " unprinted messages were restored from the last run");
    ShowListed();
    UpdateCount();
  }
  if (!FPendingJobs.empty()) FSpoolTimer->start();
}

// --- The list ------------------------------------------------------------------------

void TMainForm::ShowListed() {
  QStringList lines;
  for (const TListedEntry& entry : FListed)
    for (const std::string& line : entry.Lines) lines << ListLineText(line);
  MessageList->setPlainText(lines.join(u'\n'));
}

void TMainForm::UpdateCount() {
  lbMsgStatus->setText(
      DisplayText(CountText(static_cast<int>(FListed.size()), ProgramText(edMsgCount->text()))));
}

int TMainForm::UnsubmittedCount() const {
  return static_cast<int>(
      std::count_if(FListed.begin(), FListed.end(), [](const TListedEntry& e) { return e.Job == 0; }));
}

std::string TMainForm::CheckPage() {
  if (cbDisablePrinting->isChecked() || !FPrintJobs) return {};
  // A job still spooling takes no second one; the page check runs again when it is done.
  if (FPrintJobs->Busy()) return {};
  if (UnsubmittedCount() <= PageLimit(ProgramText(edMsgCount->text()))) return {};
  try {
    btnPrintNowClick();
  } catch (const std::exception& e) {
    ReportFailureOnce(QString::fromUtf8(e.what()), false);
    return std::string("Printing failed: ") + e.what();
  }
  return {};
}

// --- Jobs -----------------------------------------------------------------------------

TPendingJob TMainForm::FullTextJob(std::int64_t storeId, const QString& text) {
  TPendingJob job;
  job.Key = FNextKey++;
  job.Kind = jkFullText;
  job.FullTextOf = storeId;
  job.Document = TextJobDocument(text);
  return job;
}

void TMainForm::SubmitFullText(TPendingJob job) {
  const QString document = job.Document;
  SubmitJob(std::move(job), document, font());
}

void TMainForm::PrintFullText(std::int64_t storeId, const QString& document) {
  try {
    SubmitFullText(FullTextJob(storeId, document));
  } catch (const std::exception& e) {
    ReportFailureOnce(QString::fromUtf8(e.what()), false);
  }
}

void TMainForm::RetryFailedFullTexts() {
  std::vector<TPendingJob> failed;
  failed.swap(FFailedFullTexts);
  for (std::size_t i = 0; i < failed.size(); ++i) {
    try {
      SubmitFullText(failed[i]);
    } catch (...) {
      // Kept (in their order) for the next try; the failure was logged and shown.
      FFailedFullTexts.insert(FFailedFullTexts.end(), failed.begin() + static_cast<std::ptrdiff_t>(i),
                              failed.end());
      throw;
    }
  }
}

void TMainForm::SubmitJob(TPendingJob job, const QString& document, const QFont& font) {
  if (!FPrintJobs) throw EPrintError(TPrintJobs::NoDefaultText.toStdString());
  std::vector<std::int64_t> ids;
  if (job.Kind == jkList) {
    for (const TListedEntry& entry : FListed)
      if (entry.Job == job.Key && entry.StoreId != 0) ids.push_back(entry.StoreId);
  } else if (job.FullTextOf != 0) {
    ids.push_back(job.FullTextOf);
  }
  job.StoreJob = 0;
  WithMessageStore([&](TDurableStore& store) {
    job.StoreJob = store.BeginJob(job.Kind, ids, FPrintJobs->CurrentPrinterName().toStdString(), Now(tfUTC),
                                  ProgramText(document));
  });
  PrepareArchive();
  try {
    job.Ticket = FPrintJobs->PrintText(document, font);
  } catch (const std::exception& e) {
    JobFailed(job, QString::fromUtf8(e.what()));
    throw;
  }
  if (job.StoreJob != 0)
    WithMessageStore([&](TDurableStore& store) { store.SetSpoolerJob(job.StoreJob, job.Ticket.SpoolerJob); });
  if (job.Ticket.SpoolerJob == 0) {
    JobCompleted(job);  // no spooler to ask: the engine's own result decided
    return;
  }
  FPendingJobs.push_back(std::move(job));
  FSpoolTimer->start();
}

void TMainForm::JobCompleted(const TPendingJob& job) {
  if (job.StoreJob != 0) WithMessageStore([&](TDurableStore& store) { store.CompleteJob(job.StoreJob); });
  FLastPrintFailure.clear();
  if (job.Kind != jkList) return;
  const auto before = FListed.size();
  std::erase_if(FListed, [&](const TListedEntry& e) { return e.Job == job.Key; });
  if (FListed.size() != before) {
    ShowListed();
    UpdateCount();
  }
  // Entries that came while it spooled may make the next page already.
  QMetaObject::invokeMethod(
      this,
      [this] {
        if (FReady && FAccepting == 0) CheckPage();
      },
      Qt::QueuedConnection);
}

void TMainForm::JobFailed(const TPendingJob& job, const QString& reason) {
  ++FJobFailures;
  if (job.StoreJob != 0)
    WithMessageStore([&](TDurableStore& store) { store.FailJob(job.StoreJob, reason.toStdString()); });
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
  LogMessage(text.toStdString());
  SetHintText(text);
}

void TMainForm::ReportFailureOnce(const QString& reason, bool operatorAction) {
  // Once per failure, not once per message: the same failure again stays in the log.
  if (!operatorAction && reason == FLastPrintFailure) return;
  FLastPrintFailure = reason;
  if (FSetup.ReportError)
    FSetup.ReportError(reason);
  else if (operatorAction)
    ShowErrorBox(this, reason);
  else
    ShowErrorBoxLater(this, reason);
}

void TMainForm::FollowPendingJobs() {
  if (FFollowing) return;
  FFollowing = true;
  std::vector<std::uint64_t> keys;
  for (const TPendingJob& job : FPendingJobs) keys.push_back(job.Key);
  for (std::uint64_t key : keys) {
    auto it = std::find_if(FPendingJobs.begin(), FPendingJobs.end(),
                           [key](const TPendingJob& j) { return j.Key == key; });
    if (it == FPendingJobs.end()) continue;
    TSpoolAnswer answer;
    if (FPrintJobs)
      answer = FPrintJobs->JobState(it->Ticket);
    else
      answer = TSpoolAnswer{ssUnreachable, QStringLiteral("no printing")};
    if (answer.State == ssCompleted || answer.State == ssFailed) {
      const TPendingJob job = std::move(*it);
      FPendingJobs.erase(it);
      if (answer.State == ssCompleted) {
        JobCompleted(job);
      } else {
        JobFailed(job, answer.Reason);
        ReportFailureOnce(answer.Reason, false);
      }
    } else if (answer.State == ssUnreachable && !it->ToldUnreachable) {
      // The spooler keeps its jobs over a restart: wait for it rather than print twice.
      it->ToldUnreachable = true;
      const QString text = QStringLiteral("Waiting for the print spooler (job %1): %2")
                               .arg(it->Ticket.SpoolerJob)
                               .arg(answer.Reason);
      LogMessage(text.toStdString());
      SetHintText(text);
    }
  }
  if (FPendingJobs.empty()) FSpoolTimer->stop();
  FFollowing = false;
}

bool TMainForm::WaitForPendingJobs(std::chrono::milliseconds bound) {
  const int failuresBefore = FJobFailures;
  QElapsedTimer timer;
  timer.start();
  while (!FPendingJobs.empty() && timer.elapsed() < bound.count()) {
    FollowPendingJobs();
    if (FPendingJobs.empty()) break;
    QCoreApplication::processEvents(QEventLoop::AllEvents,
                                    static_cast<int>(std::min<std::int64_t>(FSetup.SpoolPoll.count(), 100)));
  }
  return FPendingJobs.empty() && FJobFailures == failuresBefore;
}

void TMainForm::PrintBeforeEnding() {
  if (!cbDisablePrinting->isChecked() && (UnsubmittedCount() > 0 || !FFailedFullTexts.empty())) {
    try {
      btnPrintNowClick();
    } catch (const std::exception&) {
      // Logged with the job; the entries stay in the store for the next start.
    }
  }
  if (!FPendingJobs.empty()) WaitForPendingJobs(FSetup.EndPrintBound);
  // Counts only what the store really holds.
  std::vector<std::int64_t> listed;
  for (const TListedEntry& entry : FListed) listed.push_back(entry.StoreId);
  if (FStore)
    for (const std::string& line : FStore->EndOfRunLines(listed)) LogMessage(line);
  else if (!listed.empty())
    LogMessage(KeptForNextStartText(0, listed.size()));
}

}  // namespace qm
