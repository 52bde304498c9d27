// The window's settings (version record, state keepers, the moments they save), its
// logger, the host link with its "Connection" page, and the wiring of the buttons.
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QFocusEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMetaObject>
#include <QPushButton>
#include <QSignalBlocker>
#include <QSpinBox>
#include <cmath>
#include <stdexcept>

#include "app/MainForm.h"
#include "base/AsciiText.h"
#include "base/ProgramText.h"
#include "generated/QuillmarkVersion.h"
#include "parse/CallsignText.h"
#include "run/StoredChoiceTable.h"
#include "run/StoredChoices.h"
#include "select/Answering.h"
#include "settings/StateKeeper.h"

namespace qm {
namespace {

constexpr const char* kInfoSection = "Info";

}  // namespace

// --- Creation -----------------------------------------------------------------------

void TMainForm::WriteVersionRecord() {
  TSettingsSession session(*FSettings);
  FSettings->WriteString(kInfoSection, "Version", version::FileVersion);
  session.Close();
}

void TMainForm::CreateStateKeepers() {
  FWindowState = std::make_unique<TWindowStateKeeper>(this, *FSettings);
  // A window stored as minimised starts in the tray; main() asks StartMinimized().
  FWindowState->OnMinimizeRequested = [this] {
    FStartMinimized = true;
    FStateBeforeMinimize = windowState() & ~Qt::WindowMinimized;  // Restore brings that back
  };
  FWindowState->IsApplicationMinimized = [this] { return isMinimized() || !isVisible(); };
  FProperties = std::make_unique<TPropertyStateKeeper>(this, *FSettings, StoredControlProperties());
  FProperties->OnRestoreState = [this] { ReadStateList(); };
  FProperties->OnSaveState = [this] { SaveStateList(); };
}

void TMainForm::RestoreState() {
  CreateStateKeepers();
  RunGuarded([this] { FWindowState->RestoreState(); });
  RunGuarded([this] { FProperties->RestoreState(); });
  RunGuarded([this] { ReadHistoryOptions(); });
  RunGuarded([this] { ReadAlarmOptions(); });
  RunGuarded([this] { ReadSendingOptions(); });
}

// --- Saving -------------------------------------------------------------------------

void TMainForm::SaveSettings() {
  if (FProperties) FProperties->SaveState();
  if (FSettings) SaveHistoryOptions();
  if (FSettings) SaveAlarmOptions();
  if (FSettings) SaveSendingOptions();
}

void TMainForm::ReadStateList() {
  qm::ReadStateList(*clbStates, *FSettings);
}

void TMainForm::SaveStateList() {
  qm::SaveStateList(*clbStates, *FSettings);
}

void TMainForm::WindowClosing() {
  // A refused write is shown and the close goes on.
  if (FWindowState) RunGuarded([this] { FWindowState->SaveState(); });
  if (FProperties) RunGuarded([this] { FProperties->SaveState(); });
  if (FSettings) RunGuarded([this] { SaveHistoryOptions(); });
  if (FSettings) RunGuarded([this] { SaveAlarmOptions(); });
  if (FSettings) RunGuarded([this] { SaveSendingOptions(); });
}

void TMainForm::ReadSendingOptions() {
  if (!FSettings) return;
  const TDeskChoices c = ReadOptionSection(*FSettings, kSendingSection);
  spnSendTries->setValue(c.SendTries);
  spnSendFirstGap->setValue(c.SendFirstGapSeconds);
}

void TMainForm::SaveSendingOptions() {
  WriteOptionSection(*FSettings, kSendingSection, ChoicesOf());
}

void TMainForm::SaveUnsavedState() {
  if (FProperties && !FProperties->SavedSinceRestore()) RunGuarded([this] { FProperties->SaveState(); });
  if (FWindowState && !FWindowState->SavedSinceRestore()) RunGuarded([this] { FWindowState->SaveState(); });
}

// --- The host link ------------------------------------------------------------------

std::size_t TMainForm::SelectedSource() const {
  const int row = lbSources->currentRow();
  return row > 0 && static_cast<std::size_t>(row) < FSources->Count() ? static_cast<std::size_t>(row) : 0;
}

std::vector<THostSettings> TMainForm::SourcesWith(std::size_t index, const THostSettings& s) const {
  std::vector<THostSettings> all;
  for (std::size_t i = 0; i < FSources->Count(); ++i)
    all.push_back(i == index ? s : i == 0 ? FHostSettings : FSources->At(i).Settings);
  return all;
}

void TMainForm::lbSourcesChange() {
  ShowHostSettings();
  SourceChanged(static_cast<int>(SelectedSource()));
}

void TMainForm::ShowHostSettings() {
  const std::size_t index = SelectedSource();
  const THostSettings& s = index == 0 ? FHostSettings : FSources->At(index).Settings;
  btnRemoveSource->setVisible(index > 0);
  {
    const QSignalBlocker quiet(cbxTransport);
    cbxTransport->setCurrentIndex(std::max(0, cbxTransport->findData(static_cast<int>(s.Transport))));
  }
  edServer->setText(DisplayText(s.EffectiveServer()));
  edPort->setText(s.EffectivePort() == 0 ? QString() : QString::number(s.EffectivePort()));
  edCallsign->setText(DisplayText(s.Callsign));
  edFilter->setText(DisplayText(s.Filter));
  edCaptureFile->setText(DisplayText(s.CaptureFile));
  edPace->setText(QString::number(s.Pace));
  cbxSerialDevice->setCurrentText(DisplayText(s.SerialDevice));
  cbxSerialBaud->setCurrentText(QString::number(s.SerialBaud));
  cbAnswer->setChecked(s.AnswerMessages);
  edPasscode->setText(s.Passcode >= 0 ? QString::number(s.Passcode) : QString());
  FShownTransport = s.Transport;
  EnableConnectionFields();
}

void TMainForm::cbxTransportChange() {
  const auto chosen = static_cast<THostSettings::TTransport>(cbxTransport->currentData().toInt());
  // A field left empty or at the previous source's usual value takes this one's.
  const QString server = edServer->text().trimmed();
  if (server.isEmpty() || server == QString::fromStdString(THostSettings::DefaultServer(FShownTransport)))
    edServer->setText(QString::fromStdString(THostSettings::DefaultServer(chosen)));
  const QString port = edPort->text().trimmed();
  if (port.isEmpty() || port == QStringLiteral("0") ||
      port == QString::number(THostSettings::DefaultPort(FShownTransport))) {
    const int usual = THostSettings::DefaultPort(chosen);
    edPort->setText(usual == 0 ? QString() : QString::number(usual));
  }
  FShownTransport = chosen;
  EnableConnectionFields();
}

void TMainForm::EnableConnectionFields() {
  const auto t = static_cast<THostSettings::TTransport>(cbxTransport->currentData().toInt());
  const QList<QLabel*> labels = tsConnection->findChildren<QLabel*>();
  // A field the source does not use is closed and, with its label, out of sight.
  const auto use = [&labels](std::initializer_list<QWidget*> fields, bool used) {
    for (QWidget* w : fields) {
      w->setEnabled(used);
      w->setVisible(used);
      for (QLabel* l : labels)
        if (l->buddy() == w) l->setVisible(used);
    }
  };
  const bool serial = t == THostSettings::htKissSerial;
  const bool replay = t == THostSettings::htReplay;
  use({edServer, edPort}, t == THostSettings::htAprsIs || t == THostSettings::htKissTcp);
  use({cbxSerialDevice, cbxSerialBaud}, serial);
  use({edFilter, lblFilterHelp}, t == THostSettings::htAprsIs);
  use({edCaptureFile, btnBrowseCapture, edPace}, replay);
  // A replay and the station program answer nothing from here (the station program answers itself).
  use({cbAnswer, lblAnswerHelp}, !replay && t != THostSettings::htStationProgram);
  use({edPasscode}, t == THostSettings::htAprsIs);
  ShowAnswerCaption();
  // The own callsign picks this station's messages whatever the source; the station program
  // tells its own.
  edCallsign->setEnabled(t != THostSettings::htStationProgram);
}

void TMainForm::ShowAnswerCaption() {
  const QString call = edCallsign->text().trimmed();
  cbAnswer->setText(call.isEmpty() ? QStringLiteral("Answer messages to your callsign")
                                   : QStringLiteral("Answer messages to ") + call);
}

void TMainForm::ConnectHost() {
  clsUIV1 = nullptr;  // the link made tells it again
  try {
    FRun->ConnectSource(0, FHostSettings);
  } catch (const EHostAbsent&) {
    // A first start (no settings file yet, no source on the command line) plays the bundled
    // demo instead, as where there is no station program; Apply writes the file before it
    // connects, so a source the operator chose is waited for.
    if (FHostSettings.Transport != THostSettings::htReplay && !FSetup.Options.Transport &&
        FSources->Count() == 1 && !QFileInfo::exists(QString::fromStdString(FPaths.IniFile))) {
      FHostSettings.Transport = THostSettings::htReplay;
      FHostSettings.CaptureFile.clear();
      ShowHostSettings();
      ConnectHost();
      return;
    }
    // The link waits for its host and its state says so: told once, and kept. No own station
    // until the host tells it.
    ShowSourceNote();
    ReadStationCall();
    throw;
  } catch (const std::exception&) {
    // No host could be had: said once (the caller shows the failure), and the window runs on
    // without one instead of asking a host that is not there at every showing.
    clsUIV1 = nullptr;
    throw;
  }
  ShowSourceNote();
}

void TMainForm::ConnectSource(std::size_t index) {
  if (index == 0) return ConnectHost();
  FRun->ConnectSource(index, FSources->At(index).Settings);
}

bool TMainForm::PlaysBundledDemo() const {
  return clsUIV1 && clsUIV1->PlaysBundledDemo();
}

QString TMainForm::PdfFolderUsed() const {
  return FRun ? FRun->PdfFolderUsed() : QString();
}

void TMainForm::ShowSourceNote() {
  QString note;
  if (FFirstStart)
    note = QStringLiteral("Welcome: enter your callsign, choose the packet source, press Apply. ");
  if (PlaysBundledDemo())
    note += QStringLiteral(
                "Demo traffic: its pages become PDF files in %1 (not paper) and none of it is "
                "kept; choose a source and press Apply to leave it.")
                .arg(FDesk->PrintFolder());
  lblSourceNote->setText(note);
  lblSourceNote->setToolTip(note);
  lblSourceNote->setVisible(!note.isEmpty());
}

void TMainForm::btnApplyConnectionClick() {
  THostSettings s = SelectedSource() == 0 ? FHostSettings : FSources->At(SelectedSource()).Settings;
  s.Transport = static_cast<THostSettings::TTransport>(cbxTransport->currentData().toInt());
  s.UnknownTransport.clear();
  s.Server = Trim(ProgramText(edServer->text()));
  const std::optional<int> port = ReadPort(ProgramText(edPort->text()), true);
  if (!port)
    throw std::runtime_error(std::string("The port must be ") + kPortRule + ", or empty for the usual one");
  s.Port = *port;
  s.Callsign = UpperCase(Trim(ProgramText(edCallsign->text())));
  if (s.Callsign.empty() && s.Transport == THostSettings::htAprsIs)
    throw std::runtime_error("The APRS-IS server needs your callsign to log in");
  if (!s.Callsign.empty() && !IsCallsign(s.Callsign)) throw std::runtime_error(NotACallsignText(s.Callsign));
  s.Filter = Trim(ProgramText(edFilter->text()));
  if (!IsAprsIsFilter(s.Filter)) throw std::runtime_error(kNotAFilterText);
  s.CaptureFile = Trim(ProgramText(edCaptureFile->text()));
  const std::optional<double> pace = ReadPace(ProgramText(edPace->text()));
  if (!pace) throw std::runtime_error(std::string("Packets per second must be ") + kPaceRule);
  s.Pace = *pace;
  s.SerialDevice = Trim(ProgramText(cbxSerialDevice->currentText()));
  if (s.SerialDevice.empty() && s.Transport == THostSettings::htKissSerial)
    throw std::runtime_error("Choose the serial port of the TNC");
  bool ok = false;
  const int baud = cbxSerialBaud->currentText().trimmed().toInt(&ok);
  if (!ok || !IsSerialSpeed(baud)) throw std::runtime_error("The serial speed must be " + SerialSpeedRule());
  s.SerialBaud = baud;
  const bool answerable =
      s.Transport != THostSettings::htReplay && s.Transport != THostSettings::htStationProgram;
  s.AnswerMessages = answerable && cbAnswer->isChecked();
  const std::string passcode = Trim(ProgramText(edPasscode->text()));
  if (!passcode.empty() && !ReadPasscode(passcode))
    throw std::runtime_error(std::string("The passcode must be ") + kPasscodeRule);
  s.Passcode = passcode.empty() ? -1 : *ReadPasscode(passcode);
  if (s.AnswerMessages && !IsTransmitCallsign(s.Callsign))
    throw std::runtime_error(
        "Answering sends as your callsign: enter the licensed callsign of this station" +
        std::string(s.Callsign.empty() ? "" : " (" + s.Callsign + " cannot be sent as)"));
  if (s.AnswerMessages && s.Transport == THostSettings::htAprsIs && s.Passcode < 0)
    throw std::runtime_error("Answering over APRS-IS needs the passcode of your callsign");

  const std::size_t index = SelectedSource();
  if (const QString clash = SourcesClash(SourcesWith(index, s)); !clash.isEmpty())
    throw std::runtime_error(clash.toStdString());
  if (index > 0) {
    FSources->Put(index, s, false);
    FSources->SetKept(index);
    SaveFurtherSources();
    ConnectSource(index);
    return;
  }
  {
    TSettingsSession session(*FSettings);
    WriteHostSettings(*FSettings, 0, s);
    session.Close();
  }
  // The first start's page offers the own station's alarm; Apply keeps it with the source.
  if (FFirstStart) SaveAlarmOptions();
  FHostSettings = s;
  ShowHostSettings();
  ConnectHost();
  FormShow();  // the own station may have changed with the settings
}

void TMainForm::btnAddSourceClick() {
  if (FSources->Count() >= connection_keys::MaxSources)
    throw std::runtime_error("At most " + std::to_string(connection_keys::MaxSources) +
                             " sources can be heard at once");
  // Most often the backup of a radio: APRS-IS beside a TNC, a TNC beside APRS-IS.
  THostSettings s;
  s.Transport =
      FHostSettings.Transport == THostSettings::htAprsIs ? THostSettings::htKissTcp : THostSettings::htAprsIs;
  s.Callsign = FHostSettings.Callsign;
  const std::size_t index = FSources->Count();
  FSources->Put(index, s, false);
  FSources->SetState(index, QStringLiteral("Not connected: press Apply to connect"));
  lbSources->setCurrentRow(static_cast<int>(index));
}

void TMainForm::btnRemoveSourceClick() {
  const std::size_t index = SelectedSource();
  if (index == 0) return;
  FSources->Remove(index);
  SaveFurtherSources();
}

void TMainForm::SaveFurtherSources() {
  // [Connection2] and on are written anew from the sources kept, numbered without gaps.
  TSettingsSession session(*FSettings);
  for (std::size_t i = 1; i < connection_keys::MaxSources; ++i)
    FSettings->EraseSection(connection_keys::SectionOf(i));
  std::size_t written = 0;
  for (std::size_t i = 1; i < FSources->Count(); ++i)
    if (FSources->At(i).Kept) WriteHostSettings(*FSettings, ++written, FSources->At(i).Settings);
  session.Close();
}

// --- Wiring -------------------------------------------------------------------------

bool TMainForm::eventFilter(QObject* watched, QEvent* event) {
  // Leaving "Disable printing" for another control saves the settings; the whole window
  // losing the focus (another program, a menu or a box) is no leaving.
  if (watched == cbDisablePrinting && event->type() == QEvent::FocusOut) {
    const auto reason = static_cast<QFocusEvent*>(event)->reason();
    if (reason != Qt::ActiveWindowFocusReason && reason != Qt::PopupFocusReason)
      RunGuarded([this] { SaveSettings(); });
  }
  return QMainWindow::eventFilter(watched, event);
}

}  // namespace qm
