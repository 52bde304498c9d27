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

#include "app/MainForm.h"
#include "parse/HostIntake.h"
#include "select/CallsignText.h"
#include "select/EntryLines.h"
#include "select/Selection.h"
#include "widgets/ProgramText.h"

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
    // Every packet heard counts, wanted or not; the clock shows the count, the first one at once.
    FLastPacketAt = Now(tfLocal);
    if (++FPacketsHeard == 1)
      ShowLinkStatus();
    else
      FLinkStatusStale = true;
    // Qt's queue takes every event it is given, so the packet is never left behind here.
    QCoreApplication::postEvent(this, new TAprsPacketEvent(std::move(packet)));
  } catch (const std::exception& e) {
    LogMessage(e.what());
  }
}

// --- Judging ------------------------------------------------------------------------

namespace {
// Packets that wait while the window starts or an entry is being accepted; past this many
// the newest are dropped and counted.
constexpr std::size_t kMaxWaitingPackets = 100000;

// Error texts span lines ("Socket Error # 10061\r\nConnection refused."); a log line is one line.
std::string OneLine(const std::string& text) {
  std::string result;
  for (char c : text) {
    if (c == '\r' || c == '\n') c = ' ';
    if (!(c == ' ' && !result.empty() && result.back() == ' ')) result += c;
  }
  return result;
}
}  // namespace

void TMainForm::WMAprsPacket(TAprsPacketEvent& message) {
  // The packet is this handler's from here on and is freed on every path.
  std::unique_ptr<TAprsMsgPacket> packet = std::move(message.Packet);
  if (!packet) return;
  if (FWaiting.size() >= kMaxWaitingPackets) {
    ++FWaitingDropped;
    return;
  }
  // Judged in the order they came, never in the middle of another entry.
  FWaiting.push_back(std::move(packet));
  DrainWaitingPackets();
}

void TMainForm::DrainWaitingPackets() {
  if (!FReady || FAccepting > 0 || FDraining) return;
  FDraining = true;
  while (!FWaiting.empty() && FAccepting == 0) {
    const std::unique_ptr<TAprsMsgPacket> packet = std::move(FWaiting.front());
    FWaiting.pop_front();
    JudgePacket(*packet);
  }
  FDraining = false;
  if (FWaitingDropped > 0) {
    LogMessage(std::to_string(FWaitingDropped) + " packets were dropped because more than " +
               std::to_string(kMaxWaitingPackets) + " were waiting to be judged");
    FWaitingDropped = 0;
  }
  if (FHostClosing) {
    FHostClosing = false;
    clsUIV1UIView32IsClosing();
  }
}

void TMainForm::JudgePacket(TAprsMsgPacket& packet) {
  try {
    if (!packet.Selected) return;
    packet.Selected = IsWantedMessage(packet, ChoicesOf(*this));
    if (packet.Selected) {
      FDupMessages.Prune(Ticks());
      // A repeat within 20 seconds, or (with the option on) a resend of a message listed
      // lately: logged, not listed.
      if (FDupMessages.IsDuplicate(packet) || IsRetryCopy(packet)) {
        packet.Selected = false;
        LogMessage("Duplicate packet: " + packet.RawText);
      }
    }
    std::string warning;
    if (packet.Selected) warning = AcceptMessage(packet);
    SetHintText(DisplayText(warning.empty() ? packet.Source.FullCall + "> " + packet.Body : warning));
  } catch (const std::exception& e) {
    LogMessage(e.what());
  }
}

std::string TMainForm::AcceptMessage(TAprsMsgPacket& packet) {
  // Packets that arrive meanwhile (a page spooling hands events back) wait in FWaiting.
  ++FAccepting;
  struct TDone {
    int& Depth;
    ~TDone() { --Depth; }
  } done{FAccepting};

  TListedEntry entry;
  entry.Key = FNextKey++;
  entry.Lines[0] = EntryLine1(Now(tfLocal), Now(tfUTC));
  entry.Lines[1] = EntryLine2(packet);
  entry.Lines[2] = EntryLine3(packet);
  entry.StoreId = KeepInStore(packet, entry);
  std::string warning;
  if (packet.Kind == mkNwsAlert)
    FullTextBranch(packet, entry.StoreId, entry.Lines[0], entry.Lines[2], warning);
  // The entry is listed whole, after its full text: nothing can come between its lines.
  for (const std::string& line : entry.Lines) AppendMessageLine(line);
  FListed.push_back(std::move(entry));
  if (cbBeepOnReceive->isChecked()) {
    if (FSetup.Beep)
      FSetup.Beep();
    else
      QApplication::beep();
  }
  FDupMessages.Add(packet.Source.FullCall, packet.TickCount, packet.Body);
  FRetries.Add(packet.Source.FullCall, packet.MessageId, packet.TickCount);
  // Logged before the page check, so a page that fails never costs the message its log line.
  LogMessage(packet.RawText);
  UpdateCount();
  const std::string failure = CheckPage();
  return warning.empty() ? failure : warning;
}

void TMainForm::FullTextBranch(const TAprsMsgPacket& packet, std::int64_t storeId, const std::string& line1,
                               const std::string& line3, std::string& warning) {
  FingerClient.Query = FingerQuery(packet);
  const TFullTextChoices choices{cbNWSWatchesPrint->isChecked(), cbNWSWarningsPrint->isChecked(),
                                 cbNWSAdvisioriesPrint->isChecked()};
  if (FullTextCategoryFor(packet, choices) == ncNone) return;
  std::string reply;
  try {
    reply = FingerClient.Fetch();
  } catch (const std::exception& e) {
    // The alert is listed and logged all the same; only its full text is missing.
    warning = "The full text of " + FingerClient.Query + " could not be fetched: " + OneLine(e.what());
    LogMessage(warning);
    return;
  }
  if (storeId != 0) WithMessageStore([&](TDurableStore& store) { store.SetFullText(storeId, reply); });
  LogMessage(reply);
  if (!cbDisablePrinting->isChecked())
    PrintFullText(storeId, DisplayText(FullTextDocument(line1, line3, reply)));
}

// --- Station list and states --------------------------------------------------------

void TMainForm::btnAddClick() {
  const std::string entry = UpperCase(Trim(ProgramText(edStation->text())));
  if (entry.empty()) return;
  // The field keeps what was typed, so a slip can be mended.
  if (!IsStationListEntry(entry)) throw std::runtime_error(NotAStationListEntryText(entry));
  lbStationList->addItem(DisplayText(entry));
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
  MessageList->appendPlainText(ListLineText(line));
}

void TMainForm::btnPrintNowClick() {
  if (!FPrintJobs) return;  // the window is still being made; nothing is listed yet
  RetryFailedFullTexts();
  // Entries already in a job wait for the spooler; the others make this page.
  TPendingJob job;
  job.Key = FNextKey++;
  job.Kind = jkList;
  QStringList lines;
  for (TListedEntry& entry : FListed) {
    if (entry.Job != 0) continue;
    entry.Job = job.Key;
    for (const std::string& line : entry.Lines) lines << ListLineText(line);
  }
  if (lines.isEmpty()) return;
  SubmitJob(std::move(job), ListJobDocument(lines), MessageList->font());
}

void TMainForm::btnClearMessagesClick() {
  WithMessageStore([](TDurableStore& store) { store.ClearListed(); });
  FListed.clear();
  MessageList->clear();
  UpdateCount();
}

bool TMainForm::FormCloseQuery() {
  if (FListed.empty()) return true;
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
    // Closed once the spooler has confirmed the pages; a job it turned down keeps the window.
    if (!WaitForPendingJobs(FSetup.EndPrintBound) && !FLastPrintFailure.isEmpty())
      throw EPrintError(FLastPrintFailure.toStdString());
    return true;
  }
  return answer == QMessageBox::No;
}

// --- Printing -----------------------------------------------------------------------

void TMainForm::Print(const std::string& text) {
  if (cbDisablePrinting->isChecked()) return;
  SubmitFullText(FullTextJob(0, DisplayText(text)));
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
  if (!FSetup.Options.Printer.isEmpty()) {
    const int index = FPrintJobs->Printers().indexOf(FSetup.Options.Printer);
    if (index < 0)
      throw EPrintError("There is no printer \"" + FSetup.Options.Printer.toStdString() + "\" here");
    cbxPrinter->setCurrentIndex(index);
    FPrintJobs->SelectPrinter(index);
  }
  UpdatePrintTarget();
  ShowSourceNote();
}

void TMainForm::cbxPrinterChange() {
  if (!FPrintJobs) throw EPrintError(TPrintJobs::NoDefaultText.toStdString());
  // With no entry chosen and no system default this fails with the no-default text.
  FPrintJobs->SelectPrinter(cbxPrinter->currentIndex());
  QPrinter& printer = FPrintJobs->SetupPrinter();
  const bool confirmed = FSetup.PrinterSetup ? FSetup.PrinterSetup(printer)
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
