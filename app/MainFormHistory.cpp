// The history window, reprints from it, and the retry option's verdict.
#include <QCheckBox>
#include <QDesktopServices>
#include <QDir>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QUrl>

#include "app/HistoryWindow.h"
#include "app/MainForm.h"
#include "print/ProgramText.h"

namespace qm {

void TMainForm::BuildHistoryWindow() {
  FHistory = new THistoryWindow(this);
  FHistory->Store = [this] { return FDesk->Store(); };
  FHistory->Guard = [this](const std::function<void()>& action) { RunGuarded(action); };
  FHistory->ReprintMessages = [this](const std::vector<std::int64_t>& ids) { FDesk->ReprintMessages(ids); };
  FHistory->ReprintJob = [this](std::int64_t job) { FDesk->ReprintJob(job); };
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

void TMainForm::OpenArchiveFolder() {
  const QString folder = FDesk->ArchiveFolder();
  if (!QDir().mkpath(folder))
    throw std::runtime_error("Unable to create the archive folder \"" + folder.toStdString() + "\"");
  if (FSetup.OpenFolder)
    FSetup.OpenFolder(folder);
  else if (!QDesktopServices::openUrl(QUrl::fromLocalFile(folder)))
    throw std::runtime_error("No program here opens the folder \"" + folder.toStdString() + "\"");
}

}  // namespace qm
