// The main window: every control of the program, the version caption, the hint and
// status bars, the tray icon with its menu, the clocks and the ways the program ends.
// The parts that judge, list, print, log, keep settings and talk to the host hang on
// the hooks below; the window itself knows none of them.
#pragma once

#include <QIcon>
#include <QMainWindow>
#include <QSystemTrayIcon>
#include <functional>
#include <string>

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

namespace qm {

class TPayPalLabel;
class TMainForm;

// The window message the tray icon reports with (the user message base plus 100).
inline constexpr int WM_TRAYICON = 1124;

// Host name of the weather-alert Finger server shown in the Finger group box.
inline constexpr const char* kNwsFingerHost = "nws-finger.example";

inline constexpr const char* kTrayTip = "Quillmark - right-click for options";
inline constexpr const char* kDonationCompany = "The Quillmark developers";
inline constexpr const char* kDonationEmail = "donations@quillmark.example";

// "Quillmark v1.3.3" from the version numbers; the build number is not shown.
QString VersionCaption(unsigned major, unsigned minor, unsigned release);

// Maps the fonts the window is designed with to metric-compatible ones where the
// originals are missing. Safe to call more than once.
void InstallFontSubstitutes();

// The program icon in all its sizes.
QIcon ProgramIcon();

// Steps of the window's creation that other parts carry out. Each runs once, in the
// order the window is built; any may be left empty. A failure in one is reported and
// the remaining steps still run, so the window always comes up.
struct TMainFormSetup {
  std::function<void(TMainForm&)> ConnectHost;         // before FormCreate
  std::function<void(TMainForm&)> WriteVersionRecord;  // FormCreate step 2
  std::function<void(TMainForm&)> CreateLogger;        // FormCreate step 3
  std::function<void(TMainForm&)> CreateDupMessages;   // FormCreate step 6
  std::function<void(TMainForm&)> FillPrinterBox;      // FormCreate step 9
  std::function<void(TMainForm&)> RestoreState;        // after FormCreate
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
  void RunSetupStep(const std::function<void(TMainForm&)>& step);
  void EndNow();
  void btnBrowseCaptureClick();

  TMainFormSetup FSetup;
  QLabel* FPanels[3] = {nullptr, nullptr, nullptr};
  Qt::WindowStates FStateBeforeMinimize = Qt::WindowNoState;
  bool FEnding = false;
  bool FDestroyed = false;
};

}  // namespace qm
