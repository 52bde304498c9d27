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
#include "app/SendDialog.h"
#include "base/PrivateFiles.h"
#include "base/ProgramText.h"
#include "print/Ics309.h"
#include "run/StoredChoiceTable.h"
#include "run/StoredChoices.h"
#include "select/NwsAreas.h"
#include "select/RetryMessages.h"

namespace qm {

THistoryWindow* TMainForm::History() {
  if (!FHistory) BuildHistoryWindow();
  return FHistory;
}

void TMainForm::BuildHistoryWindow() {
  FHistory = new THistoryWindow(this);
  FHistory->Store = [this] { return FDesk->HistoryReader(); };
  FHistory->Guard = [this](const std::function<void()>& action) { RunGuarded(action); };
  FHistory->ReprintMessages = [this](const std::vector<std::int64_t>& ids) { FDesk->ReprintMessages(ids); };
  FHistory->ReprintJob = [this](std::int64_t job) { FDesk->ReprintJob(job); };
  FHistory->OpenArchive = [this] { OpenArchiveFolder(); };
  FHistory->OperationalStart = [this] { return FDesk->StartedUtc(); };
  FHistory->WriteCommsLog = [this](const TCommsLogChoice& choice) {
    const TCommsLog log = FDesk->CommsLog(choice.FromUtc, choice.ToUtc);
    const TCommsLogFiles files = SaveCommsLog(log, FDesk->DataDir());
    if (choice.Print) FDesk->PrintCommsLog(log);
    SetHintText(QStringLiteral("ICS-309 log saved: %1 and %2").arg(files.Pdf, files.Csv));
  };
  FHistory->Compose = [this](const QString& to) { ComposeMessage(to); };
  FHistory->Model->NowUtc = [this] { return FDesk->Now(tfUTC); };
  // What was just kept is in the file first: the view follows each new entry.
  FHistory->Bulletins = [this] {
    (void)FDesk->HistoryReader();
    return FDesk->BulletinBoard();
  };
  FHistory->ClearBulletin = [this](const std::string& from, const std::string& lineId) {
    FDesk->ClearBulletinLine(from, lineId);
  };
  // The board's view follows new lines and lines cleared on the board.
  for (auto signal : {&TMessageDesk::EntryListed, &TMessageDesk::BulletinsChanged})
    connect(FDesk, signal, FHistory, [this] {
      if (FHistory->isVisible()) RunGuarded([this] { FHistory->RefreshBulletins(); });
    });
  FHistory->SetBulletinAges(FBulletinAges);
  ShowHistoryOptions();
  // Wired once they show what the desk has already, so making the window changes nothing.
  const auto push = [this] { PushChoices(); };
  for (QCheckBox* box : {FHistory->cbDropRetries, FHistory->cbArchivePdf, FHistory->cbBroadcastOnce})
    FChoiceConnections.push_back(connect(box, &QCheckBox::toggled, this, push));
  for (QLineEdit* edit : {FHistory->edRetryMinutes, FHistory->edBroadcastHours})
    FChoiceConnections.push_back(connect(edit, &QLineEdit::textChanged, this, push));
}

void TMainForm::ShowHistoryOptions() {
  FHistory->cbDropRetries->setChecked(FHistoryOptions.DropResent);
  FHistory->edRetryMinutes->setText(QString::number(FHistoryOptions.ResentMinutes));
  FHistory->cbArchivePdf->setChecked(FHistoryOptions.ArchivePdf);
  FHistory->cbBroadcastOnce->setChecked(FHistoryOptions.BroadcastOnce);
  FHistory->edBroadcastHours->setText(QString::number(FHistoryOptions.BroadcastHours));
}

void TMainForm::HistoryOptionsOf(TDeskChoices& c) const {
  if (!FHistory) {
    c.DropResent = FHistoryOptions.DropResent;
    c.ResentMinutes = FHistoryOptions.ResentMinutes;
    c.ArchivePdf = FHistoryOptions.ArchivePdf;
    c.BroadcastOnce = FHistoryOptions.BroadcastOnce;
    c.BroadcastHours = FHistoryOptions.BroadcastHours;
    return;
  }
  c.DropResent = FHistory->cbDropRetries->isChecked();
  c.ResentMinutes = RetryMinutes(ProgramText(FHistory->edRetryMinutes->text()));
  c.ArchivePdf = FHistory->cbArchivePdf->isChecked();
  c.BroadcastOnce = FHistory->cbBroadcastOnce->isChecked();
  c.BroadcastHours = BroadcastHours(ProgramText(FHistory->edBroadcastHours->text()));
}

void TMainForm::ReadHistoryOptions() {
  if (!FSettings) return;
  FHistoryOptions = ReadOptionSection(*FSettings, kHistorySection);
  if (FHistory) ShowHistoryOptions();
  const TDeskChoices printing = ReadOptionSection(*FSettings, kNwsPrintingSection);
  cbFixedPitchFullText->setChecked(printing.FixedPitchFullText);
  cbNwsWordsLine->setChecked(printing.NwsWordsLine);
  const TDeskChoices paper = ReadOptionSection(*FSettings, kPaperSection);
  cbHeaderFooter->setChecked(paper.HeaderFooter);
  cbReprintMark->setChecked(paper.ReprintMark);
  cbOwnTraffic->setChecked(paper.OwnTraffic);
  // This run's --areas stand over the stored list, and are stored only by a save.
  FNwsAreas =
      FSetup.Options.Areas ? *FSetup.Options.Areas : ReadOwnSectionLists(*FSettings).Selection.NwsAreas;
  edNwsAreas->setText(DisplayText(AreaListText(FNwsAreas)));
  edNwsAreas->setCursorPosition(0);  // the list's start in sight
  FBulletinAges = ReadBulletinAges(*FSettings);
  if (FHistory) FHistory->SetBulletinAges(FBulletinAges);
  PushChoices();
}

void TMainForm::SaveHistoryOptions() {
  const TDeskChoices c = ChoicesOf();
  WriteOptionSection(*FSettings, kHistorySection, c);
  WriteOptionSection(*FSettings, kNwsPrintingSection, c);
  WriteOptionSection(*FSettings, kPaperSection, c);
  WriteOwnSectionLists(*FSettings, c);
}

void TMainForm::ComposeMessage(const QString& to) {
  if (!FSend) {
    FSend = new TSendDialog(this);
    FSend->Guard = [this](const std::function<void()>& action) { RunGuarded(action); };
    FSend->Sent = [this] { return FDesk->SentMessages(); };
    FSend->Send = [this](const std::string& to, const std::string& text) {
      return FDesk->Send(to, text, "in the window by " + AccountName().toStdString()).Number;
    };
    FSend->Cancel = [this](const std::string& number) {
      if (!FDesk->CancelSent(number, "in the window by " + AccountName().toStdString()))
        throw std::runtime_error("Message " + number + " is no longer being sent");
    };
    connect(FDesk, &TMessageDesk::SentChanged, FSend, [this] {
      if (FSend->isVisible()) RunGuarded([this] { FSend->Refresh(); });
    });
  }
  FSend->Compose(to);
}

void TMainForm::btnHistoryClick() {
  History();
  FHistory->Refresh();
  FHistory->RefreshBulletins();
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
