// The window's side of the message flow: the choices handed to the desk, the list and the
// count it shows from the desk's signals, the buttons of the pages, the close question about
// unprinted messages and the printer box.
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPrintDialog>
#include <QSpinBox>
#include <QStatusBar>
#include <stdexcept>

#include "app/ErrorBox.h"
#include "app/MainForm.h"
#ifdef QM_HAVE_COM_HOST_LINK
#endif
#include "base/ProgramText.h"
#include "parse/CallsignText.h"
#include "print/PrintJobs.h"
#include "select/NwsAreas.h"

namespace qm {

// --- The desk ---------------------------------------------------------------------------

void TMainForm::CreateDesk() {
  TMessageDesk* desk = FDesk;
  // The list shows the queue's own entries: it is told when they change.
  MessageList->Model().SetDesk(desk);
  connect(desk, &TMessageDesk::EntryListed, &MessageList->Model(), &TMessageListModel::EntryAdded);
  connect(desk, &TMessageDesk::ListChanged, &MessageList->Model(), &TMessageListModel::Reshow);
  connect(desk, &TMessageDesk::CountChanged, lbMsgStatus, &QLabel::setText);
  connect(desk, &TMessageDesk::HintChanged, this, [this](const QString& text) { ShowDeskHint(text); });
  connect(desk, &TMessageDesk::Advised, this, [this](const QString& text) { AddNotice(text); });
  connect(desk, &TMessageDesk::FailureToReport, this,
          [this](const QString& text, bool operatorAction) { ShowFailure(text, operatorAction); });
  connect(desk, &TMessageDesk::BeepRequested, this, [this] {
    if (FSetup.Beep)
      FSetup.Beep();
    else
      QApplication::beep();
  });
  connect(desk, &TMessageDesk::PacketHeard, this, [this] {
    // The first packet shows at once, the others with the clock's next tick.
    if (FDesk->PacketsHeard() == 1)
      ShowLinkStatus();
    else
      FLinkStatusStale = true;
  });
  connect(desk, &TMessageDesk::EndRequested, this, [this] {
    // The operator may still be reading the demo's window; without a display nobody is.
    if (PlaysBundledDemo() && HasDisplay())
      DemoOver();
    else
      EndNow();
  });
  connect(desk, &TMessageDesk::PrinterProblemsChanged, this, [this](const QStringList& problems) {
    if (!problems.isEmpty()) SetHintText(problems.join(QStringLiteral("; ")));
    ShowLinkStatus();
  });
  WireChoices();
  WireAlarms();
  // Every source hands its packets to the desk; the window shows their states.
  connect(FSources, &TPacketSources::SourceChanged, this, [this](int index) { SourceChanged(index); });
  // The host closing ends the program once no other source is left to hear.
  connect(FSources, &TPacketSources::AllEnded, this,
          [this] { RunGuarded([this] { clsUIV1UIView32IsClosing(); }); });
  // The first source tells the own station; the window asks it whenever it changes.
  connect(FRun.get(), &TDeskRun::LinkMade, this, [this](int index, THostLink* link) {
    if (index != 0) return;
    clsUIV1 = link;
    connect(link, &THostLink::OwnStationChanged, this, [this] { ReadStationCall(); });
  });
}

TDeskChoices TMainForm::ChoicesOf() const {
  TDeskChoices c;
  TSelectionChoices& s = c.Selection;
  s.ThisStation = cbThisStation->isChecked();
  s.StationCall = FStationCall;
  s.UseStationList = cbStationList->isChecked();
  for (int i = 0; i < lbStationList->count(); ++i)
    s.StationList.push_back(ProgramText(lbStationList->item(i)->text()));
  s.Bulletins = cbBull->isChecked();
  s.Announcements = cbAnn->isChecked();
  s.NwsWatches = cbNWSWatches->isChecked();
  s.NwsWarnings = cbNWSWarnings->isChecked();
  s.NwsAdvisories = cbNWSAdvisiories->isChecked();
  s.States.clear();
  for (int i = 0; i < clbStates->count(); ++i) {
    const QListWidgetItem* item = clbStates->item(i);
    s.States.emplace_back(ProgramText(item->text()), item->checkState() == Qt::Checked);
  }
  s.NwsAreas = FNwsAreas;
  c.BulletinAges = FBulletinAges;
  c.FullText = {cbNWSWatchesPrint->isChecked(), cbNWSWarningsPrint->isChecked(),
                cbNWSAdvisioriesPrint->isChecked()};
  c.Beep = cbBeepOnReceive->isChecked();
  c.PageSetting = ProgramText(edMsgCount->text());
  c.PrintingDisabled = cbDisablePrinting->isChecked();
  HistoryOptionsOf(c);
  c.FixedPitchFullText = cbFixedPitchFullText->isChecked();
  c.NwsWordsLine = cbNwsWordsLine->isChecked();
  c.HeaderFooter = cbHeaderFooter->isChecked();
  c.ReprintMark = cbReprintMark->isChecked();
  c.OwnTraffic = cbOwnTraffic->isChecked();
  c.AlarmKinds = AlarmKindsShown();
  c.AlarmRepeatSeconds = spnAlarmRepeat->value();
  c.SendTries = spnSendTries->value();
  c.SendFirstGapSeconds = spnSendFirstGap->value();
  return c;
}

void TMainForm::PushChoices() {
  // The controls going away with the window say so too; the desk no longer listens then.
  if (FChoicesLive && !FDestroyed) FDesk->SetChoices(ChoicesOf());
}

void TMainForm::WireChoices() {
  // Handed over whenever a control changes, not read again for every packet.
  const auto push = [this] { PushChoices(); };
  // Kept, so the window lets go of them before its controls go (see FormDestroy).
  const auto keep = [this](const QMetaObject::Connection& c) { FChoiceConnections.push_back(c); };
  for (QCheckBox* box :
       {cbThisStation, cbStationList, cbBull, cbAnn, cbNWSWatches, cbNWSWarnings, cbNWSAdvisiories,
        cbNWSWatchesPrint, cbNWSWarningsPrint, cbNWSAdvisioriesPrint, cbBeepOnReceive, cbDisablePrinting,
        cbFixedPitchFullText, cbNwsWordsLine, cbHeaderFooter, cbReprintMark, cbOwnTraffic})
    keep(connect(box, &QCheckBox::toggled, this, push));
  for (const auto& [box, kind] : AlarmBoxes()) keep(connect(box, &QCheckBox::toggled, this, push));
  for (QSpinBox* spin : {spnAlarmRepeat, spnSendTries, spnSendFirstGap})
    keep(connect(spin, &QSpinBox::valueChanged, this, push));
  WireAlarmChoices();
  keep(connect(edMsgCount, &QLineEdit::textChanged, this, push));
  for (QListWidget* list : {lbStationList, clbStates}) {
    keep(connect(list->model(), &QAbstractItemModel::rowsInserted, this, push));
    keep(connect(list->model(), &QAbstractItemModel::rowsRemoved, this, push));
    keep(connect(list->model(), &QAbstractItemModel::modelReset, this, push));
    keep(connect(list->model(), &QAbstractItemModel::dataChanged, this, push));
  }
}

void TMainForm::ShowFailure(const QString& reason, bool operatorAction) {
  if (FSetup.ReportError)
    FSetup.ReportError(reason);
  else if (operatorAction)
    ShowErrorBox(this, reason);
  else
    ShowErrorBoxLater(this, reason);
}

// --- Station list and states --------------------------------------------------------

void TMainForm::btnAddClick() {
  const std::string entry = UpperCase(Trim(ProgramText(edStation->text())));
  edStation->clear();
  if (entry.empty() || entry == "*") return;
  if (!IsStationListEntry(entry)) throw std::runtime_error(NotAStationListEntryText(entry));
  lbStationList->addItem(DisplayText(entry));
}

void TMainForm::btnRemoveClick() {
  const int row = lbStationList->currentRow();
  if (row >= 0 && lbStationList->item(row)->isSelected()) delete lbStationList->takeItem(row);
}

void TMainForm::btnAllStatesClick() {
  for (int i = 0; i < clbStates->count(); ++i) clbStates->item(i)->setCheckState(Qt::Checked);
}

void TMainForm::btnNoneStatesClick() {
  for (int i = 0; i < clbStates->count(); ++i) clbStates->item(i)->setCheckState(Qt::Unchecked);
}

void TMainForm::edNwsAreasExit() {
  std::string bad;
  const std::optional<std::vector<std::string>> list = ReadAreaList(ProgramText(edNwsAreas->text()), bad);
  if (list) FNwsAreas = *list;
  edNwsAreas->setText(DisplayText(AreaListText(FNwsAreas)));
  if (!list) throw std::runtime_error(NotAnAreaListEntryText(bad));
  PushChoices();
}

// --- The message list ---------------------------------------------------------------

int TMainForm::MessageLineCount() const {
  return MessageList->model()->rowCount();
}

QStringList TMainForm::MessageLines() const {
  return MessageList->Lines();
}

void TMainForm::btnPrintNowClick() {
  FDesk->PrintNow();
}

void TMainForm::btnClearMessagesClick() {
  FDesk->ClearList();
}

bool TMainForm::FormCloseQuery() {
  if (FDesk->Listed().empty()) return true;
  QMessageBox::StandardButton answer;
  if (FSetup.AskPrintOnClose) {
    answer = FSetup.AskPrintOnClose();
  } else {
    QMessageBox box(QMessageBox::NoIcon, QStringLiteral("Print"),
                    QStringLiteral("There are unprinted messages. Print them?"),
                    QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel, this);
    answer = static_cast<QMessageBox::StandardButton>(box.exec());
  }
  if (answer == QMessageBox::Yes) {
    btnPrintNowClick();  // a failure keeps the window open
    // Closed once the spooler has confirmed the pages; a job it turned down meanwhile keeps
    // the window. One still pending when the wait ends is followed at the next start.
    const QString failure = FDesk->WaitForPendingJobs(FSetup.EndPrintBound);
    if (!failure.isEmpty()) throw EPrintError(failure.toStdString());
    return true;
  }
  return answer == QMessageBox::No;
}

// --- Printing -----------------------------------------------------------------------

void TMainForm::Print(const std::string& text) {
  FDesk->Print(text);
}

void TMainForm::FillPrinterBox() {
  const QStringList printers = FDesk->Printers();
  const QSignalBlocker quiet(cbxPrinter);
  cbxPrinter->clear();
  cbxPrinter->addItems(printers);
  cbxPrinter->setCurrentIndex(-1);
  cbxPrinter->setEditText(QStringLiteral("(default)"));
  if (FRun->ChooseNamedPrinter()) cbxPrinter->setCurrentIndex(printers.indexOf(FSetup.Options.Printer));
  FRun->UpdatePrintTarget();
  ShowSourceNote();
}

void TMainForm::cbxPrinterChange() {
  // With no entry chosen and no system default this fails with the no-default text.
  FDesk->SelectPrinter(cbxPrinter->currentIndex());
  FDesk->SetUpPrinter([this](QPrinter& printer) {
    return FSetup.PrinterSetup ? FSetup.PrinterSetup(printer)
                               : QPrintDialog(&printer, this).exec() == QDialog::Accepted;
  });
}

// --- Small helpers ------------------------------------------------------------------

void TMainForm::LogMessage(const std::string& text) {
  if (FDesk) FDesk->LogMessage(text);
}

TDateTime TMainForm::Now(TTimeFormat format) const {
  return FSetup.Clock ? FSetup.Clock(format) : CurrentDateTime(format);
}

}  // namespace qm
