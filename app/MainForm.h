// The main window: every control of the program, the version caption, the hint and
// status bars, the tray icon with its menu, the clocks and the ways the program ends.
// The parts that judge, list, print, log, keep settings and talk to the host hang on
// the hooks below; the window itself knows none of them.
#pragma once

#include <QEvent>
#include <QIcon>
#include <QMainWindow>
#include <QMessageBox>
#include <QSystemTrayIcon>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "AppPaths.h"
#include "DupMessages.h"
#include "FingerClient.h"
#include "HostLink.h"
#include "MessageLogger.h"
#include "PrintJobs.h"
#include "QuillmarkParse.h"
#include "SettingsStore.h"
#include "StateKeeper.h"
#include "Timing.h"

class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QMenu;
class QPlainTextEdit;
class QPushButton;
class QStatusBar;
class QTabWidget;
class QTimer;
class QAction;
class QPrinter;

namespace qm {

class TPayPalLabel;
class TMainForm;

// The window message the tray icon reports with (the user message base plus 100).
inline constexpr int WM_TRAYICON = 1124;
// The window message that carries a parsed packet to the window (the user message base plus 101).
inline constexpr int WM_APRSPACKET = 1125;

// A parsed packet on its way through the window's event queue; the receiver owns it.
class TAprsPacketEvent : public QEvent {
 public:
  explicit TAprsPacketEvent(std::unique_ptr<TAprsMsgPacket> packet)
      : QEvent(static_cast<QEvent::Type>(WM_APRSPACKET)), Packet(std::move(packet)) {}
  std::unique_ptr<TAprsMsgPacket> Packet;
};

inline constexpr const char* kTrayTip = "Quillmark - right-click for options";
inline constexpr const char* kDonationCompany = "The Quillmark developers";
inline constexpr const char* kDonationEmail = "donations@quillmark.example";

// "Quillmark v1.3.3" from the version numbers; the build number is not shown.
QString VersionCaption(unsigned major, unsigned minor, unsigned release);

// The program icon in all its sizes.
QIcon ProgramIcon();

// What the window takes from its surroundings. Everything has a default that is the
// real thing; tests replace parts of it. A failure in a creation step is reported and
// the remaining steps still run, so the window always comes up.
struct TMainFormSetup {
  // Settings file and log folder; empty: beside the executable, or the user's folders
  // where that is not writable.
  std::string IniFile;
  std::string LogDir;
  // Makes the host link; CreateHostLink when empty.
  std::function<std::unique_ptr<TclsUIV>(const THostSettings&)> CreateHost;
  // Printers to offer; the system's when empty.
  std::optional<TPrinterList> Printers;
  // Non-empty: every print job writes this PDF file instead of going to a printer.
  QString PrintToFile;
  // The close question's answer (Yes, No or Cancel); a message box when empty.
  std::function<QMessageBox::StandardButton()> AskPrintOnClose;
  // The printer set-up dialog; true when confirmed. A print dialog when empty.
  std::function<bool(QPrinter&)> PrinterSetupDialog;
  // The received-message sound; QApplication::beep when empty.
  std::function<void()> Beep;
  // The millisecond tick counter; TickCount32 when empty.
  std::function<std::uint32_t()> Ticks;
  // Where failures of the operator's actions are shown; ShowErrorBox when empty.
  std::function<void(const QString&)> ReportError;
  // Whether a notification area exists; QSystemTrayIcon::isSystemTrayAvailable when empty.
  std::function<bool()> TrayAvailable;
  // The clock; CurrentDateTime when empty.
  std::function<TDateTime(TTimeFormat)> Clock;
};

class TMainForm : public QMainWindow {
  Q_OBJECT

 public:
  explicit TMainForm(TMainFormSetup setup = {}, QWidget* parent = nullptr);
  ~TMainForm() override;

  // --- Hooks the other parts fill after creation ---------------------------------
  // The own station's callsign from the host; an empty answer keeps what is shown.
  std::function<std::string()> ReadOwnCallsign;
  // The close question; false keeps the window open. Not asked when the program is
  // ended by the tray menu's Exit or by the host closing.
  std::function<bool()> CloseQuery;
  // Runs when the window closes through its close box, after the question allowed it.
  std::function<void()> Closing;
  // Runs first in FormDestroy (free the logger, the duplicate list, save state).
  std::function<void()> Destroying;
  // How the program ends at once; QCoreApplication::exit(0) when empty.
  std::function<void()> EndApplication;

  // --- Fields shared with the other parts ----------------------------------------
  std::string FStationCall;  // own callsign, upper case; empty until first shown
  QSystemTrayIcon* FTrayIcon = nullptr;
  std::unique_ptr<TMessageLogger> FLogger;
  TDupMessageList FDupMessages;
  TFingerClient FingerClient;
  std::unique_ptr<TPrintJobs> FPrintJobs;
  TAppPaths FPaths;
  std::unique_ptr<TSettingsStore> FSettings;
  std::unique_ptr<TWindowStateKeeper> FWindowState;
  std::unique_ptr<TPropertyStateKeeper> FProperties;
  std::unique_ptr<TclsUIV> clsUIV1;
  TclsMyInfo clsMyInfo1;
  THostSettings FHostSettings;

  // --- Handlers ------------------------------------------------------------------
  void FormCreate();
  void FormShow();
  void FormDestroy();
  void clsUIV1UIView32IsClosing();
  void AppMinimize();
  void WMTrayIcon(QSystemTrayIcon::ActivationReason reason);
  void miRestoreClick();
  void miExitClick();
  void tmrClockTimer();
  // Shows the window at start; a window stored as minimised starts in the tray (or,
  // without a notification area, minimised in the taskbar).
  void ShowInitially(bool minimized);
  // Whether the restored window state asked for a minimised start.
  bool StartMinimized() const { return FStartMinimized; }

  // Packets: intake, judging, listing and printing.
  void clsUIV1DataAvailable();
  void WMAprsPacket(TAprsPacketEvent& message);
  void btnAddClick();
  void btnRemoveClick();
  void btnAllStatesClick();
  void btnNoneStatesClick();
  void btnPrintNowClick();
  void btnClearMessagesClick();
  bool FormCloseQuery();
  void Print(const std::string& text);
  void cbxPrinterChange();
  // Settings.
  void SaveSettings();
  void ReadStateList();
  void SaveStateList();
  // The host link: made from FHostSettings, started, and wired to the window.
  void ConnectHost();
  void btnApplyConnectionClick();
  // Lines in the message list (an empty list has none).
  int MessageLineCount() const;
  QStringList MessageLines() const;

  // --- Helpers for the other parts -----------------------------------------------
  void SetHintText(const QString& text);
  QString HintText() const;
  void SetPanelText(int panel, const QString& text);
  QString PanelText(int panel) const;
  // Runs an operator's action; a failure goes to the error box and the program goes on.
  bool RunGuarded(const std::function<void()>& action);
  void ReportError(const QString& message);
  bool TrayAvailable() const;
  // True once the program is ending without the close question.
  bool Ending() const { return FEnding; }

  // --- Controls ------------------------------------------------------------------
  // Printer group
  QGroupBox* gbPrinter = nullptr;
  QComboBox* cbxPrinter = nullptr;
  QCheckBox* cbDisablePrinting = nullptr;
  QPushButton* btnClearMessages = nullptr;
  QLabel* lbMsgStatus = nullptr;
  QPushButton* btnPrintNow = nullptr;
  // Page control
  QGroupBox* gbPages = nullptr;
  QTabWidget* PageControl1 = nullptr;
  QWidget* tsMessageOptions = nullptr;
  QWidget* tsNwsOptions = nullptr;
  QWidget* tsConnection = nullptr;
  QWidget* tsAbout = nullptr;
  // Message Options
  QCheckBox* cbThisStation = nullptr;
  QLabel* lblStationCall = nullptr;
  QCheckBox* cbBeepOnReceive = nullptr;
  QLabel* Label1 = nullptr;
  QLineEdit* edMsgCount = nullptr;
  QGroupBox* gbGroups = nullptr;
  QCheckBox* cbBull = nullptr;
  QCheckBox* cbAnn = nullptr;
  QCheckBox* cbStationList = nullptr;
  QListWidget* lbStationList = nullptr;
  QLineEdit* edStation = nullptr;
  QPushButton* btnAdd = nullptr;
  QPushButton* btnRemove = nullptr;
  QPushButton* btnSaveSettings1 = nullptr;
  // NWS Options
  QGroupBox* gbNwsMessage = nullptr;
  QCheckBox* cbNWSWatches = nullptr;
  QCheckBox* cbNWSWarnings = nullptr;
  QCheckBox* cbNWSAdvisiories = nullptr;
  QGroupBox* gbFinger = nullptr;
  QCheckBox* cbNWSWatchesPrint = nullptr;
  QCheckBox* cbNWSWarningsPrint = nullptr;
  QCheckBox* cbNWSAdvisioriesPrint = nullptr;
  QLabel* Label2 = nullptr;
  QGroupBox* gbStates = nullptr;
  QListWidget* clbStates = nullptr;
  QPushButton* btnAllStates = nullptr;
  QPushButton* btnNoneStates = nullptr;
  QPushButton* btnSaveSettings2 = nullptr;
  // Connection
  QComboBox* cbxTransport = nullptr;
  QLineEdit* edServer = nullptr;
  QLineEdit* edPort = nullptr;
  QLineEdit* edCallsign = nullptr;
  QLineEdit* edFilter = nullptr;
  QLineEdit* edCaptureFile = nullptr;
  QPushButton* btnBrowseCapture = nullptr;
  QLineEdit* edPace = nullptr;
  QPushButton* btnApplyConnection = nullptr;
  QLabel* lblConnectionState = nullptr;
  // About
  QPlainTextEdit* Memo1 = nullptr;
  TPayPalLabel* PayPalLabel1 = nullptr;
  // Below the pages
  QPlainTextEdit* MessageList = nullptr;
  QStatusBar* HintBar = nullptr;
  QStatusBar* StatusBar = nullptr;
  // Tray and clock
  QMenu* mnuTrayPopup = nullptr;
  QAction* miRestore = nullptr;
  QAction* miExit = nullptr;
  QTimer* tmrClock = nullptr;

  // Chooses the capture file for the browse button; a file dialog when empty.
  std::function<QString()> ChooseCaptureFile;

 protected:
  bool event(QEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;
  void showEvent(QShowEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  void changeEvent(QEvent* event) override;

 private:
  void BuildControls();
  QWidget* BuildPrinterGroup();
  QWidget* BuildMessageOptionsPage();
  QWidget* BuildNwsOptionsPage();
  QWidget* BuildConnectionPage();
  QWidget* BuildAboutPage();
  void BuildStatusBars();
  void BuildTray();
  void RunSetupStep(const std::function<void()>& step);
  void EndNow();
  void btnBrowseCaptureClick();
  void WriteVersionRecord();
  void CreateLogger();
  void FillPrinterBox();
  void CreateStateKeepers();
  void RestoreState();
  void WindowClosing();
  void SaveUnsavedState();
  void WireControls();
  void LoadHostSettings();
  void ShowHostSettings();
  void LogMessage(const std::string& text);
  void AcceptMessage(TAprsMsgPacket& packet);
  void FullTextBranch(const TAprsMsgPacket& packet, const std::string& line1, const std::string& line3);
  void AppendMessageLine(const std::string& line);
  TDateTime Now(TTimeFormat format) const;
  std::uint32_t Ticks() const;

  TMainFormSetup FSetup;
  QLabel* FPanels[3] = {nullptr, nullptr, nullptr};
  Qt::WindowStates FStateBeforeMinimize = Qt::WindowNoState;
  bool FEnding = false;
  bool FDestroyed = false;
  bool FStartMinimized = false;
};

}  // namespace qm
