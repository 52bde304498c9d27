// The window's settings (version record, state keepers, the moments they save), its
// logger, the host link with its "Connection" page, and the wiring of the buttons.
#include <QCheckBox>
#include <QComboBox>
#include <QFocusEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMetaObject>
#include <QPushButton>
#include <cmath>
#include <stdexcept>

#include "app/MainForm.h"
#ifdef QM_HAVE_COM_HOST_LINK
#include "host/com/ComHostLink.h"
#endif
#include "generated/QuillmarkVersion.h"
#include "settings/StateKeeper.h"
#include "widgets/ProgramText.h"

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

void TMainForm::CreateLogger() {
  FLogger = std::make_unique<TMessageLogger>();
  FLogger->SetPurgeFileDays(14);
  FLogger->SetShowLocalZulu(false);
  FLogger->SetUTC(true);
  FLogger->SetPriority(tpNormal);
  if (!FPaths.LogDir.empty()) FLogger->SetLogFilePath(FPaths.LogDir);
  // The writer hands its file event and its failure to this thread and waits for them.
  FLogger->SetOwnerPost([this](TMessageLogger::TOwnerCall call) {
    QMetaObject::invokeMethod(
        this, [call = std::move(call)] { call(); }, Qt::QueuedConnection);
  });
  // A failed write is shown once without stopping the packets; the writer keeps retrying.
  FLogger->SetOnWriterError(
      [this](const std::string& message) { ReportFailureOnce(DisplayText(message), false); });
  FLogger->SetOnWriterRecovered([this](const std::string& message) {
    LogMessage(message);
    SetHintText(DisplayText(message));
  });
}

void TMainForm::CreateStateKeepers() {
  FWindowState = std::make_unique<TWindowStateKeeper>(this, *FSettings);
  // A window stored as minimised starts in the tray; main() asks StartMinimized().
  FWindowState->OnMinimizeRequested = [this] { FStartMinimized = true; };
  FWindowState->IsApplicationMinimized = [this] { return isMinimized() || !isVisible(); };
  FProperties = std::make_unique<TPropertyStateKeeper>(this, *FSettings, DefaultStoredProperties());
  FProperties->OnRestoreState = [this] { ReadStateList(); };
  FProperties->OnSaveState = [this] { SaveStateList(); };
}

void TMainForm::RestoreState() {
  CreateStateKeepers();
  RunGuarded([this] { FWindowState->RestoreState(); });
  RunGuarded([this] { FProperties->RestoreState(); });
}

// --- Saving -------------------------------------------------------------------------

void TMainForm::SaveSettings() {
  if (FProperties) FProperties->SaveState();
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
}

void TMainForm::SaveUnsavedState() {
  if (FProperties && !FProperties->SavedSinceRestore()) RunGuarded([this] { FProperties->SaveState(); });
  if (FWindowState && !FWindowState->SavedSinceRestore()) RunGuarded([this] { FWindowState->SaveState(); });
}

// --- The host link ------------------------------------------------------------------

void TMainForm::LoadHostSettings() {
  THostSettings s;
  {
    TSettingsSession session(*FSettings);
    const char* section = connection_keys::Section;
    s.Transport = TransportFromName(
        FSettings->ReadString(section, connection_keys::Transport, TransportName(s.Transport)), s.Transport);
    s.Server = FSettings->ReadString(section, connection_keys::Server, s.Server);
    s.Port = FSettings->ReadInteger(section, connection_keys::Port, s.Port);
    if (s.Port < 0 || s.Port > 65535) s.Port = 0;
    s.Callsign = FSettings->ReadString(section, connection_keys::Callsign, s.Callsign);
    s.Filter = FSettings->ReadString(section, connection_keys::Filter, s.Filter);
    s.CaptureFile = FSettings->ReadString(section, connection_keys::CaptureFile, s.CaptureFile);
    bool ok = false;
    const double pace =
        QString::fromStdString(FSettings->ReadString(section, connection_keys::Pace, std::to_string(s.Pace)))
            .toDouble(&ok);
    if (ok && std::isfinite(pace) && pace >= 0) s.Pace = pace;
    session.Close();
  }
  FHostSettings = s;
  ShowHostSettings();
}

void TMainForm::ShowHostSettings() {
  const THostSettings& s = FHostSettings;
  cbxTransport->setCurrentIndex(static_cast<int>(s.Transport));
  edServer->setText(DisplayText(s.Server));
  edPort->setText(QString::number(s.Port));
  edCallsign->setText(DisplayText(s.Callsign));
  edFilter->setText(DisplayText(s.Filter));
  edCaptureFile->setText(DisplayText(s.CaptureFile));
  edPace->setText(QString::number(s.Pace));
}

void TMainForm::ConnectHost() {
  clsUIV1.reset();
  FPacketsHeard = 0;
  LinkStateChanged(QStringLiteral("Not connected"));
  if (FSetup.CreateHost) {
    clsUIV1 = FSetup.CreateHost(FHostSettings);
#ifdef QM_HAVE_COM_HOST_LINK
  } else if (FHostSettings.Transport == THostSettings::htStationProgram) {
    clsUIV1 = std::make_unique<TComHostLink>();
#endif
  } else {
    clsUIV1 = CreateHostLink(FHostSettings);
  }
  if (!clsUIV1) throw std::runtime_error("No packet source could be made from the connection settings");
  TclsUIV* link = clsUIV1.get();
  connect(link, &TclsUIV::OnDataAvailable, this, [this] { clsUIV1DataAvailable(); });
  connect(link, &TclsUIV::OnUIView32IsClosing, this,
          [this] { RunGuarded([this] { clsUIV1UIView32IsClosing(); }); });
  connect(link, &TclsUIV::StateChanged, this, [this](const QString& text) { LinkStateChanged(text); });
  link->Start();
}

void TMainForm::btnApplyConnectionClick() {
  THostSettings s = FHostSettings;
  s.Transport = static_cast<THostSettings::TTransport>(std::max(0, cbxTransport->currentIndex()));
  s.Server = Trim(ProgramText(edServer->text()));
  bool ok = false;
  const int port = edPort->text().trimmed().toInt(&ok);
  if (!ok || port < 0 || port > 65535) throw std::runtime_error("The port must be a number from 0 to 65535");
  s.Port = port;
  s.Callsign = Trim(ProgramText(edCallsign->text()));
  s.Filter = Trim(ProgramText(edFilter->text()));
  s.CaptureFile = Trim(ProgramText(edCaptureFile->text()));
  const double pace = edPace->text().trimmed().toDouble(&ok);
  // "nan" and "inf" read as numbers but pace nothing.
  if (!ok || !std::isfinite(pace) || pace < 0)
    throw std::runtime_error("Packets per second must be a number, 0 or more");
  s.Pace = pace;

  {
    TSettingsSession session(*FSettings);
    const char* section = connection_keys::Section;
    FSettings->WriteString(section, connection_keys::Transport, TransportName(s.Transport));
    FSettings->WriteString(section, connection_keys::Server, s.Server);
    FSettings->WriteInteger(section, connection_keys::Port, s.Port);
    FSettings->WriteString(section, connection_keys::Callsign, s.Callsign);
    FSettings->WriteString(section, connection_keys::Filter, s.Filter);
    FSettings->WriteString(section, connection_keys::CaptureFile, s.CaptureFile);
    FSettings->WriteString(section, connection_keys::Pace, QString::number(s.Pace).toStdString());
    session.Close();
  }
  FHostSettings = s;
  ShowHostSettings();
  ConnectHost();
  FormShow();  // the own station may have changed with the settings
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
