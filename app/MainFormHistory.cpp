// The history window, reprints from it, and the retry option's verdict.
#include <QCheckBox>
#include <QDesktopServices>
#include <QDir>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QUrl>

#include "app/HistoryWindow.h"
#include "app/MainForm.h"
#include "widgets/ProgramText.h"

namespace qm {

void TMainForm::BuildHistoryWindow() {
  FHistory = new THistoryWindow(this);
  FHistory->Store = [this] { return FStore ? FStore->Store() : nullptr; };
  FHistory->Guard = [this](const std::function<void()>& action) { RunGuarded(action); };
  FHistory->ReprintMessages = [this](const std::vector<std::int64_t>& ids) { ReprintMessages(ids); };
  FHistory->ReprintJob = [this](std::int64_t job) { ReprintJob(job); };
  FHistory->OpenArchive = [this] { OpenArchiveFolder(); };
  cbDropRetries = FHistory->cbDropRetries;
  edRetryMinutes = FHistory->edRetryMinutes;
  cbArchivePdf = FHistory->cbArchivePdf;
}

namespace {

constexpr const char* kHistorySection = "History";

}  // namespace

void TMainForm::ReadHistoryOptions() {
  if (!FSettings) return;
  TSettingsSession session(*FSettings);
  cbDropRetries->setChecked(FSettings->ReadInteger(kHistorySection, "DropResent", 0) != 0);
  edRetryMinutes->setText(
      QString::number(FSettings->ReadInteger(kHistorySection, "ResentMinutes", TRetryList::kDefaultMinutes)));
  cbArchivePdf->setChecked(FSettings->ReadInteger(kHistorySection, "ArchivePdf", 0) != 0);
  session.Close();
}

void TMainForm::SaveHistoryOptions() {
  const int minutes = RetryMinutes(ProgramText(edRetryMinutes->text()));
  TSettingsSession session(*FSettings);
  if (cbDropRetries->isChecked() || cbArchivePdf->isChecked() || minutes != TRetryList::kDefaultMinutes) {
    FSettings->WriteInteger(kHistorySection, "DropResent", cbDropRetries->isChecked() ? 1 : 0);
    FSettings->WriteInteger(kHistorySection, "ResentMinutes", minutes);
    FSettings->WriteInteger(kHistorySection, "ArchivePdf", cbArchivePdf->isChecked() ? 1 : 0);
  } else if (FSettings->SectionExists(kHistorySection)) {
    FSettings->EraseSection(kHistorySection);
  }
  session.Close();
}

void TMainForm::btnHistoryClick() {
  FHistory->Refresh();
  FHistory->show();
  FHistory->raise();
  FHistory->activateWindow();
}

bool TMainForm::IsRetryCopy(const TAprsMsgPacket& packet) {
  const std::uint32_t windowMs =
      static_cast<std::uint32_t>(RetryMinutes(ProgramText(edRetryMinutes->text()))) * 60000u;
  // Asked with the option off too, so the pairs kept meanwhile stay few.
  const bool copy = FRetries.IsRetry(packet.Source.FullCall, packet.MessageId, packet.TickCount, windowMs);
  return copy && cbDropRetries->isChecked();
}

void TMainForm::ReprintMessages(const std::vector<std::int64_t>& ids) {
  std::vector<std::int64_t> ordered = ids;
  std::sort(ordered.begin(), ordered.end());
  std::vector<TStoredMessage> messages;
  if (!WithMessageStore([&](TDurableStore& store) { messages = store.Messages(ordered); })) return;
  QStringList lines;
  for (const TStoredMessage& m : messages)
    for (const std::string* line : {&m.Line1, &m.Line2, &m.Line3}) lines << ListLineText(*line);
  if (lines.isEmpty()) return;
  Reprint(ListJobDocument(lines), MessageList->font());
}

void TMainForm::ReprintJob(std::int64_t job) {
  TStoredJob stored;
  if (!WithMessageStore([&](TDurableStore& store) { stored = store.Job(job); })) return;
  // The fonts SubmitJob was given: the list's for a page, the window's for a full text.
  Reprint(DisplayText(stored.Document), stored.Kind == jkList ? MessageList->font() : font());
}

void TMainForm::Reprint(const QString& document, const QFont& font) {
  if (!FPrintJobs) throw EPrintError(TPrintJobs::NoDefaultText.toStdString());
  PrepareArchive();
  const TJobTicket ticket = FPrintJobs->PrintText(document, font);
  const QString text =
      QStringLiteral("Reprinted %1 lines on %2").arg(FPrintJobs->LastJob().Lines).arg(ticket.Printer);
  LogMessage(text.toStdString());
  SetHintText(text);
}

QString TMainForm::ArchiveFolder() const {
  const QString data = FPaths.LogDir.empty() ? QStringLiteral(".") : QString::fromStdString(FPaths.LogDir);
  return QDir(data).filePath(QStringLiteral("archive"));
}

void TMainForm::PrepareArchive() {
  if (!FPrintJobs) return;
  FPrintJobs->SetArchiveFolder(cbArchivePdf->isChecked() ? ArchiveFolder() : QString());
  FPrintJobs->ArchiveFailed = [this](const QString& reason) {
    // The page is printed; only its copy is missing.
    LogMessage(reason.toStdString());
    SetHintText(reason);
  };
}

void TMainForm::OpenArchiveFolder() {
  const QString folder = ArchiveFolder();
  if (!QDir().mkpath(folder))
    throw std::runtime_error("Unable to create the archive folder \"" + folder.toStdString() + "\"");
  if (FSetup.OpenFolder)
    FSetup.OpenFolder(folder);
  else if (!QDesktopServices::openUrl(QUrl::fromLocalFile(folder)))
    throw std::runtime_error("No program here opens the folder \"" + folder.toStdString() + "\"");
}

}  // namespace qm
