// The road of a packet through the window: intake, judging, the message list, page
// printing, the NWS full text, and the close question about unprinted messages.
#include <QApplication>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPrintDialog>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <stdexcept>

#include "EntryLines.h"
#include "HostIntake.h"
#include "MainForm.h"
#include "ProgramText.h"
#include "Selection.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>

namespace qm {
namespace {

TSelectionChoices ChoicesOf(const TMainForm& f) {
  TSelectionChoices c;
  c.cbThisStation = f.cbThisStation->isChecked();
  c.FStationCall = f.FStationCall;
  c.cbStationList = f.cbStationList->isChecked();
  for (int i = 0; i < f.lbStationList->count(); ++i)
    c.lbStationList.push_back(ProgramText(f.lbStationList->item(i)->text()));
  c.cbBull = f.cbBull->isChecked();
  c.cbAnn = f.cbAnn->isChecked();
  c.cbNWSWatches = f.cbNWSWatches->isChecked();
  c.cbNWSWarnings = f.cbNWSWarnings->isChecked();
  c.cbNWSAdvisiories = f.cbNWSAdvisiories->isChecked();
  c.clbStates.clear();
  for (int i = 0; i < f.clbStates->count(); ++i) {
    const QListWidgetItem* item = f.clbStates->item(i);
    c.clbStates.emplace_back(ProgramText(item->text()), item->checkState() == Qt::Checked);
  }
  return c;
}

}  // namespace

// --- Intake -------------------------------------------------------------------------

void TMainForm::clsUIV1DataAvailable() {
  try {
    if (!clsUIV1) throw std::runtime_error("The host link is not connected");
    // Stamped with the window's own clocks, which the duplicate filter ages entries by.
    auto packet = ParseAprsPacket(CleanPacketText(clsUIV1->PacketText()), Ticks(), Now(tfUTC));
    // Qt's queue takes every event it is given, so the packet is never left behind here.
    QCoreApplication::postEvent(this, new TAprsPacketEvent(std::move(packet)));
  } catch (const std::exception& e) {
    LogMessage(e.what());
  }
}

// --- Judging ------------------------------------------------------------------------

void TMainForm::WMAprsPacket(TAprsPacketEvent& message) {
  // The packet is this handler's from here on and is freed on every path.
  const std::unique_ptr<TAprsMsgPacket> packet = std::move(message.Packet);
  if (!packet) return;
  try {
    if (!packet->Selected) return;
    packet->Selected = IsWantedMessage(*packet, ChoicesOf(*this));
    if (packet->Selected) {
      FDupMessages.Prune(Ticks());
      if (FDupMessages.IsDuplicate(*packet)) {
        packet->Selected = false;
        LogMessage("Duplicate packet: " + packet->RawText);
      }
    }
    if (packet->Selected) AcceptMessage(*packet);
    SetHintText(DisplayText(packet->Source.FullCall + "> " + packet->Body));
  } catch (const std::exception& e) {
    LogMessage(e.what());
  }
}

void TMainForm::AcceptMessage(TAprsMsgPacket& packet) {
  const std::string line1 = EntryLine1(Now(tfLocal), Now(tfUTC));
  AppendMessageLine(line1);
  AppendMessageLine(EntryLine2(packet));
  const std::string line3 = EntryLine3(packet);
  if (packet.Kind == mkNwsAlert) FullTextBranch(packet, line1, line3);
  AppendMessageLine(line3);
  if (cbBeepOnReceive->isChecked()) {
    if (FSetup.Beep)
      FSetup.Beep();
    else
      QApplication::beep();
  }
  FDupMessages.Add(packet.Source.FullCall, packet.TickCount, packet.Body);
  const std::string setting = ProgramText(edMsgCount->text());
  const int count = MessageLineCount() / 3;
  lbMsgStatus->setText(DisplayText(CountText(count, setting)));
  if (count > PageLimit(setting) && !cbDisablePrinting->isChecked()) btnPrintNowClick();
  LogMessage(packet.RawText);
}

void TMainForm::FullTextBranch(const TAprsMsgPacket& packet, const std::string& line1,
                               const std::string& line3) {
  FingerClient.Query = FingerQuery(packet);
  const TFullTextChoices choices{cbNWSWatchesPrint->isChecked(), cbNWSWarningsPrint->isChecked(),
                                 cbNWSAdvisioriesPrint->isChecked()};
  if (FullTextCategoryFor(packet, choices) == ncNone) return;
  const std::string reply = FingerClient.Fetch();
  Print(FullTextDocument(line1, line3, reply));
  LogMessage(reply);
}

// --- Station list and states --------------------------------------------------------

void TMainForm::btnAddClick() {
  const std::string entry = Trim(ProgramText(edStation->text()));
  if (!entry.empty() && entry != "*") lbStationList->addItem(DisplayText(entry));
  edStation->clear();
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

// --- The message list ---------------------------------------------------------------

int TMainForm::MessageLineCount() const {
  const QTextDocument* doc = MessageList->document();
  return doc->isEmpty() ? 0 : doc->blockCount();
}

QStringList TMainForm::MessageLines() const {
  QStringList lines;
  if (MessageLineCount() == 0) return lines;
  for (QTextBlock b = MessageList->document()->begin(); b.isValid(); b = b.next()) lines << b.text();
  return lines;
}

void TMainForm::AppendMessageLine(const std::string& line) {
  MessageList->appendPlainText(DisplayText(line));
}

void TMainForm::btnPrintNowClick() {
  if (MessageLineCount() == 0) return;
  MessageList->appendPlainText(QString());
  // Events are handled while the job spools, and packets may add lines meanwhile: only
  // the lines printed here are cleared afterwards.
  const QStringList lines = MessageLines();
  QString text;
  for (const QString& line : lines) text += line + QStringLiteral("\r\n");
  FPrintJobs->PrintText(text, MessageList->font());
  // Cleared by the operator meanwhile: the printed lines are gone and what is listed now
  // arrived since, unprinted.
  const QStringList now = MessageLines();
  if (now.mid(0, lines.size()) != lines) return;
  if (now.size() == lines.size()) {
    MessageList->clear();
    return;
  }
  QTextCursor cursor(MessageList->document());
  cursor.movePosition(QTextCursor::Start);
  cursor.movePosition(QTextCursor::NextBlock, QTextCursor::KeepAnchor, static_cast<int>(lines.size()));
  cursor.removeSelectedText();
}

void TMainForm::btnClearMessagesClick() {
  MessageList->clear();
  lbMsgStatus->setText(DisplayText(CountText(0, ProgramText(edMsgCount->text()))));
}

bool TMainForm::FormCloseQuery() {
  if (MessageLineCount() == 0) return true;
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
    return true;
  }
  return answer == QMessageBox::No;
}

// --- Printing -----------------------------------------------------------------------

void TMainForm::Print(const std::string& text) {
  if (cbDisablePrinting->isChecked()) return;
  FPrintJobs->PrintText(TextJobDocument(DisplayText(text)), font());
}

void TMainForm::FillPrinterBox() {
  FPrintJobs =
      FSetup.Printers ? std::make_unique<TPrintJobs>(*FSetup.Printers) : std::make_unique<TPrintJobs>();
  if (!FSetup.PrintToFile.isEmpty()) FPrintJobs->SetOutputFile(FSetup.PrintToFile);
  const QSignalBlocker quiet(cbxPrinter);
  cbxPrinter->clear();
  cbxPrinter->addItems(FPrintJobs->Printers());
  cbxPrinter->setCurrentIndex(-1);
  cbxPrinter->setEditText(QStringLiteral("(default)"));
}

void TMainForm::cbxPrinterChange() {
  if (!FPrintJobs) throw EPrintError(TPrintJobs::NoDefaultText.toStdString());
  // With no entry chosen and no system default this fails with the no-default text.
  FPrintJobs->SelectPrinter(cbxPrinter->currentIndex());
  QPrinter& printer = FPrintJobs->SetupPrinter();
  const bool confirmed = FSetup.PrinterSetupDialog ? FSetup.PrinterSetupDialog(printer)
                                                   : QPrintDialog(&printer, this).exec() == QDialog::Accepted;
  if (confirmed) FPrintJobs->AcceptSetup();
}

// --- Small helpers ------------------------------------------------------------------

void TMainForm::LogMessage(const std::string& text) {
  if (FLogger) FLogger->LogMessage(text);
}

TDateTime TMainForm::Now(TTimeFormat format) const {
  return FSetup.Clock ? FSetup.Clock(format) : CurrentDateTime(format);
}

std::uint32_t TMainForm::Ticks() const {
  return FSetup.Ticks ? FSetup.Ticks() : TickCount32();
}

}  // namespace qm
