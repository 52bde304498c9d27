// The history window, reprints from it, and the retry option's verdict.
#include <QCheckBox>
#include <QDesktopServices>
#include <QDir>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QUrl>
#include <system_error>

#include "app/HistoryWindow.h"
#include "app/MainForm.h"
#include "base/PrivateFiles.h"
#include "base/ProgramText.h"
#include "run/StoredChoiceTable.h"
#include "run/StoredChoices.h"

namespace qm {

void TMainForm::BuildHistoryWindow() {
  FHistory = new THistoryWindow(this);
  FHistory->Store = [this] { return FDesk->HistoryReader(); };
  FHistory->Guard = [this](const std::function<void()>& action) { RunGuarded(action); };
  FHistory->ReprintMessages = [this](const std::vector<std::int64_t>& ids) { FDesk->ReprintMessages(ids); };
  FHistory->ReprintJob = [this](std::int64_t job) { FDesk->ReprintJob(job); };
  FHistory->OpenArchive = [this] { OpenArchiveFolder(); };
  cbDropRetries = FHistory->cbDropRetries;
  edRetryMinutes = FHistory->edRetryMinutes;
  cbArchivePdf = FHistory->cbArchivePdf;
  cbBroadcastOnce = FHistory->cbBroadcastOnce;
  edBroadcastHours = FHistory->edBroadcastHours;
}

void TMainForm::ReadHistoryOptions() {
  if (!FSettings) return;
  const TDeskChoices c = ReadOptionSection(*FSettings, kHistorySection);
  cbDropRetries->setChecked(c.DropResent);
  edRetryMinutes->setText(QString::number(c.ResentMinutes));
  cbArchivePdf->setChecked(c.ArchivePdf);
  cbBroadcastOnce->setChecked(c.BroadcastOnce);
  edBroadcastHours->setText(QString::number(c.BroadcastHours));
}

void TMainForm::SaveHistoryOptions() {
  WriteOptionSection(*FSettings, kHistorySection, ChoicesOf());
}

void TMainForm::btnHistoryClick() {
  FHistory->Refresh();
  FHistory->show();
  FHistory->raise();
  FHistory->activateWindow();
}

void TMainForm::OpenArchiveFolder() {
  const QString folder = FDesk->ArchiveFolder();
  std::error_code made;
  MakePrivateFolders(folder.toStdString(), made);
  if (made) throw std::runtime_error("Unable to create the archive folder \"" + folder.toStdString() + "\"");
  if (FSetup.OpenFolder)
    FSetup.OpenFolder(folder);
  else if (!QDesktopServices::openUrl(QUrl::fromLocalFile(folder)))
    throw std::runtime_error("No program here opens the folder \"" + folder.toStdString() + "\"");
}

}  // namespace qm
