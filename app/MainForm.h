// The main window: every control of the program, the version caption, the hint and
// status bars, the tray icon with its menu, the clocks and the ways the program ends.
// The parts that judge, list, print, log, keep settings and talk to the host hang on
// the hooks below; the window itself knows none of them.
#pragma once

#include <QElapsedTimer>
#include <QEvent>
#include <QIcon>
#include <QMainWindow>
#include <QMessageBox>
#include <QSystemTrayIcon>
#include <array>
#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <utility>

#include "app/MessageList.h"
#include "base/Timing.h"
#include "desk/MessageDesk.h"
#include "host/HostLink.h"
#include "run/CommandLine.h"
#include "run/DeskRun.h"
#include "run/PacketSources.h"
#include "settings/AppPaths.h"
#include "settings/SettingsStore.h"
#include "settings/StateKeeper.h"

class QCheckBox;
class QComboBox;
class QFrame;
class QGroupBox;
class QHBoxLayout;
class QVBoxLayout;
class QLabel;
class QLineEdit;
class QListWidget;
class QMenu;
class QPlainTextEdit;
class QPushButton;
class QSpinBox;
class QStatusBar;
class QTabWidget;
class QTimer;
class QAction;

namespace qm {

class TAlarmBanner;
class TAlarmSound;
class TPayPalLabel;
class TMainForm;
class THistoryWindow;
class TSendDialog;
class TBoardKeysDialog;

// The window message the tray icon reports with (the user message base plus 100).
inline constexpr int WM_TRAYICON = 1124;

// The tray icon's tip; the link's state follows on a line of its own.
inline constexpr const char* kTrayTip = "Quillmark - right-click for options";
inline constexpr const char* kDonationCompany = "The Quillmark developers";
inline constexpr const char* kDonationEmail = "donations@quillmark.example";

// "Quillmark v1.3.3" from the version numbers; the build number is not shown.
QString VersionCaption(unsigned major, unsigned minor, unsigned release);

// The program icon in all its sizes.
QIcon ProgramIcon();

// The application's name, desktop entry and icon. No display name: Qt would add it to every
// window title, and the caption is the version alone.
void SetUpApplication();

// What the window takes from its surroundings. Everything has a default that is the
// real thing; tests replace parts of it. A failure in a creation step is reported and
// the remaining steps still run, so the window always comes up.
struct TMainFormSetup {
  // Settings file and log folder; empty: beside the executable, or the user's folders
  // where that is not writable.
  std::string IniFile;
  std::string LogDir;
  // Makes the host link; CreateHostLink when empty.
  std::function<std::unique_ptr<THostLink>(const THostSettings&)> CreateHost;
  // The source when the settings file names none; the platform's (the station program on
  // Windows) when empty.
  std::optional<THostSettings::TTransport> DefaultTransport;
  // Printers to offer; the system's when empty.
  std::optional<TPrinterList> Printers;
  // Non-empty: every print job writes this PDF file instead of going to a printer.
  QString PrintToFile;
  // The printer set-up dialog on the given printer; true when confirmed. A QPrintDialog when empty.
  std::function<bool(QPrinter&)> PrinterSetup;
  // The close question's answer (Yes, No or Cancel); a message box when empty.
  std::function<QMessageBox::StandardButton()> AskPrintOnClose;
  // The received-message sound; QApplication::beep when empty.
  std::function<void()> Beep;
  // An alarm's call; the program's own sound (TAlarmSound) when empty.
  std::function<void()> AlarmSound;
  // The millisecond tick counter; TickCount32 when empty.
  std::function<std::uint32_t()> Ticks;
  // Where failures of the operator's actions are shown; ShowErrorBox when empty.
  std::function<void(const QString&)> ReportError;
  // Whether a notification area exists; QSystemTrayIcon::isSystemTrayAvailable when empty.
  std::function<bool()> TrayAvailable;
  // Whether the tray reports double clicks; when empty, all but a StatusNotifierItem tray
  // (KDE, GNOME with AppIndicator), which reports a click as activation only.
  std::function<bool()> TrayDoubleClicks;
  // The clock; CurrentDateTime when empty.
  std::function<TDateTime(TTimeFormat)> Clock;
  // The message store's file; empty: "Quillmark-messages.db" in the log folder.
  std::string StoreFile;
  // How often a job the spooler has not yet confirmed is asked after.
  std::chrono::milliseconds SpoolPoll{500};
  // How long the close question's "Yes" waits for the spooler to confirm the last pages.
  std::chrono::milliseconds EndPrintBound{30000};
  // This run's choices from the command line; none of them is stored.
  TRunOptions Options;
  // Whether a person may be looking at the window; false on the offscreen and minimal
  // platforms when empty.
  std::function<bool()> HasDisplay;
  // Opens a folder for the operator; the desktop's file manager when empty.
  std::function<void(const QString&)> OpenFolder;
};

class TMainForm : public QMainWindow, private TRunView {
  Q_OBJECT

 public:
  explicit TMainForm(TMainFormSetup setup = {}, QWidget* parent = nullptr);
  ~TMainForm() override;

  // --- Hooks the other parts fill after creation ---------------------------------
  // The own station's callsign from the host; an empty answer clears it.
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
  std::string FStationCall;            // own callsign, upper case; empty until the host tells it
  std::vector<std::string> FNwsAreas;  // the area list the desk has, as edNwsAreas last gave it
  TBulletinAges FBulletinAges;         // as the settings file sets them
  QSystemTrayIcon* FTrayIcon = nullptr;
  TAppPaths FPaths;
  TSettingsStore* FSettings = nullptr;  // the run's
  std::unique_ptr<TWindowStateKeeper> FWindowState;
  std::unique_ptr<TPropertyStateKeeper> FProperties;
  THostLink* clsUIV1 = nullptr;  // the first source's link (Sources() owns it), or none
  TOwnStation clsMyInfo1;
  THostSettings FHostSettings;  // the first source's

  // --- Handlers and what tests drive -------------------------------------------
  // MainForm.cpp: the window's life, tray and clocks.
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
  // Reads the own callsign from the host (an empty answer clears it).
  void ReadStationCall();

  // The run the window shows: its desk, sources, tick and board.
  TDeskRun& Run() { return *FRun; }
  // The message flow the window shows: listing, printing, the store, the log.
  TMessageDesk& Desk() { return *FDesk; }
  const TMessageDesk& Desk() const { return *FDesk; }

  // MainFormPackets.cpp: the choices handed to the desk, the buttons of the pages, the list
  // shown and the printer box.
  void btnAddClick();
  void btnRemoveClick();
  void btnAllStatesClick();
  void btnNoneStatesClick();
  // The area list as typed, once the field is left: taken when every entry is a code or
  // its start with "*", else refused and shown as it was.
  void edNwsAreasExit();
  void btnPrintNowClick();
  void btnClearMessagesClick();
  bool FormCloseQuery();
  void Print(const std::string& text);
  void cbxPrinterChange();
  // Lines in the message list (an empty list has none).
  int MessageLineCount() const;
  QStringList MessageLines() const;

  // MainFormSettings.cpp: settings, and the host link made from FHostSettings, started and
  // wired to the window.
  void SaveSettings();
  void ReadStateList();
  void SaveStateList();
  // The first source; ConnectSource the others.
  void ConnectHost();
  void ConnectSource(std::size_t index);
  // Applies the Connection page's fields to the source chosen in lbSources (the first when
  // there is one).
  void btnApplyConnectionClick();
  // A further source heard at the same time (written to the settings file by Apply).
  void btnAddSourceClick();
  void btnRemoveSourceClick();
  std::size_t SelectedSource() const;
  TPacketSources& Sources() { return *FSources; }
  // Enables the Connection page's fields the chosen source uses; fills in its usual server and
  // port where the field is empty or holds another source's.
  void cbxTransportChange();
  // The folder print jobs become PDF files in (the bundled demo's, or --print-to-pdf), or "".
  QString PdfFolderUsed() const;
  // True when the program started without a settings file.
  bool FirstStart() const { return FFirstStart; }

  // MainFormHistory.cpp: the history window and its options.
  void btnHistoryClick();
  // The compose box, addressed to `to` when it is a reply.
  void ComposeMessage(const QString& to = QString());
  // Made at its first use: a start that never opens it does not pay for its controls.
  THistoryWindow* History();
  void OpenArchiveFolder();

  // MainFormBoard.cpp: the board's page, its address and its keys.
  // Shows where the board serves (or why not); the run starts it after the window is made.
  void ShowBoard();
  void btnBoardKeysClick();
  void btnOpenBoardClick();
  TBoardKeysDialog* BoardKeys() const { return FBoardKeys; }

  // --- Helpers for the other parts (MainForm.cpp) --------------------------------
  void SetHintText(const QString& text);
  QString HintText() const;
  void SetPanelText(int panel, const QString& text);
  QString PanelText(int panel) const;
  // The packet source, its state and the packets heard, as lblLinkStatus shows it (a long one
  // cut short there).
  QString LinkStatusText() const { return FLinkStatus; }
  // The notice line: a text is added once while it is there; Seen clears them all.
  void AddNotice(const QString& text);
  QStringList Notices() const { return FNotices; }
  void btnDismissNoticeClick();
  // Runs an operator's action; a failure goes to the error box and the program goes on.
  bool RunGuarded(const std::function<void()>& action);
  void ReportError(const QString& message);
  bool TrayAvailable() const;
  bool TrayDoubleClicks() const;
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
  QPushButton* btnHistory = nullptr;
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
  // Alarms: the kinds that sound an alarm until acknowledged, and how often it sounds again.
  QWidget* tsAlarms = nullptr;
  QCheckBox* cbAlarmOwn = nullptr;
  QCheckBox* cbAlarmListed = nullptr;
  QCheckBox* cbAlarmBull = nullptr;
  QCheckBox* cbAlarmAnn = nullptr;
  QCheckBox* cbAlarmWatches = nullptr;
  QCheckBox* cbAlarmWarnings = nullptr;
  QCheckBox* cbAlarmAdvisories = nullptr;
  QSpinBox* spnAlarmRepeat = nullptr;
  // NWS Options
  QGroupBox* gbNwsMessage = nullptr;
  QCheckBox* cbNWSWatches = nullptr;
  QCheckBox* cbNWSWarnings = nullptr;
  QCheckBox* cbNWSAdvisiories = nullptr;
  QGroupBox* gbFinger = nullptr;
  QCheckBox* cbNWSWatchesPrint = nullptr;
  QCheckBox* cbNWSWarningsPrint = nullptr;
  QCheckBox* cbNWSAdvisioriesPrint = nullptr;
  QCheckBox* cbFixedPitchFullText = nullptr;
  QCheckBox* cbNwsWordsLine = nullptr;
  QGroupBox* gbPaper = nullptr;
  QCheckBox* cbHeaderFooter = nullptr;
  QCheckBox* cbOwnTraffic = nullptr;
  QCheckBox* cbReprintMark = nullptr;
  QLabel* Label2 = nullptr;
  QGroupBox* gbStates = nullptr;
  QListWidget* clbStates = nullptr;
  QPushButton* btnAllStates = nullptr;
  QPushButton* btnNoneStates = nullptr;
  QLabel* lblNwsAreas = nullptr;
  QLineEdit* edNwsAreas = nullptr;
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
  QComboBox* cbxSerialDevice = nullptr;
  QComboBox* cbxSerialBaud = nullptr;
  QLabel* lblFilterHelp = nullptr;
  QLabel* lblSourceNote = nullptr;
  // The first start's offer of the own station's alarm (cbAlarmOwn).
  QCheckBox* cbWelcomeAlarm = nullptr;
  // Acknowledging the messages to the own call on this source, and the APRS-IS passcode.
  QCheckBox* cbAnswer = nullptr;
  QLabel* lblAnswerHelp = nullptr;
  QLineEdit* edPasscode = nullptr;
  // How often a message the operator sends goes out: the desk's schedule, for every source.
  QSpinBox* spnSendTries = nullptr;
  QSpinBox* spnSendFirstGap = nullptr;
  // The sources heard at once with their states, shown while there are several.
  QListWidget* lbSources = nullptr;
  QPushButton* btnAddSource = nullptr;
  QPushButton* btnRemoveSource = nullptr;
  // Board
  QWidget* tsBoard = nullptr;
  QLabel* lblBoardAddress = nullptr;
  QPushButton* btnOpenBoard = nullptr;
  QPushButton* btnBoardKeys = nullptr;
  // About
  QPlainTextEdit* Memo1 = nullptr;
  TPayPalLabel* PayPalLabel1 = nullptr;
  // Below the pages
  TAlarmBanner* AlarmBanner = nullptr;  // while an alarm sounds
  TMessageList* MessageList = nullptr;
  QStatusBar* HintBar = nullptr;
  QLabel* lblLinkStatus = nullptr;  // right end of the hint bar: the packet source at a glance
  // Above the hint bar: advice that matters, kept in sight until the operator dismisses it.
  QFrame* pnlNotice = nullptr;
  QLabel* lblNotice = nullptr;
  QPushButton* btnDismissNotice = nullptr;
  QStatusBar* StatusBar = nullptr;
  // Tray and clock
  QMenu* mnuTrayPopup = nullptr;
  QAction* miRestore = nullptr;
  QAction* miHistory = nullptr;
  QAction* miAcknowledgeAlarms = nullptr;  // while an alarm sounds
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
  // MainFormLayout.cpp: the controls, built and wired.
  void BuildControls();
  QWidget* BuildPrinterGroup();
  QWidget* BuildMessageOptionsPage();
  QWidget* BuildAlarmsPage();
  QWidget* BuildNwsOptionsPage();
  QWidget* BuildConnectionPage();
  QWidget* BuildAboutPage();
  QWidget* BuildBoardPage();
  QWidget* BuildNoticeLine();
  void PlaceSourceButtons(bool several);
  void FitStatesGrid();
  // The serial ports and the printer box, filled after the first paint: enumerating them
  // takes longer than building the whole window. Runs once.
  void FillDeferredLists();
  void BuildStatusBars();
  void BuildTray();
  void WireControls();

  // MainForm.cpp
  void RunSetupStep(const std::function<void()>& step);
  // A failed step of the start: told once the event loop runs (logged, on standard error, a box).
  void ReportStepFailure(const QString& message);
  // The start as the window shows it (TDeskRun::Start).
  void StepFailed(const QString& step, const QString& why) override;
  void SourcesRead(TDeskRun& run) override;
  void ChoosePrinter(TDeskRun& run) override;
  void ConnectSource(TDeskRun& run, std::size_t index) override;
  void HandOverChoices(TDeskRun& run) override;
  void Ready(TDeskRun& run) override;
  void ShowPendingHint();
  // A hint of the desk's: at once after a quiet second, else with the clock's next tick.
  void ShowDeskHint(const QString& text);
  // A source's state changed: its row, the Connection page and the down look follow.
  void SourceChanged(int index);
  void ShowLinkStatus();
  // The program's icon in the tray, with the marks of a link down and of an alarm.
  void ShowTrayIcon();
  void ShowNotices();
  void EndNow();
  bool HasDisplay() const;
  // The demo ended with the window in sight: it stays, on the Connection page.
  void DemoOver();
  void btnBrowseCaptureClick();

  // MainFormSettings.cpp
  void WriteVersionRecord();
  void CreateStateKeepers();
  void RestoreState();
  void WindowClosing();
  void SaveUnsavedState();
  // The Connection page's fields show the source chosen in lbSources.
  void ShowHostSettings();
  void lbSourcesChange();
  void SaveFurtherSources();
  // The settings of every source as they would be with `s` at `index`.
  std::vector<THostSettings> SourcesWith(std::size_t index, const THostSettings& s) const;
  bool PlaysBundledDemo() const;
  void EnableConnectionFields();
  void ShowAnswerCaption();
  void ShowSourceNote();

  // MainFormPackets.cpp
  // The desk and the signals the window shows.
  void CreateDesk();
  // The choices as the controls hold them, handed to the desk whenever one changes.
  TDeskChoices ChoicesOf() const;
  void PushChoices();
  void WireChoices();
  void FillPrinterBox();
  void LogMessage(const std::string& text);
  // Shows a failure the desk found: once, without waiting for the operator.
  void ShowFailure(const QString& reason, bool operatorAction);
  TDateTime Now(TTimeFormat format) const;

  // MainFormAlarms.cpp
  // Each alarm kind's box.
  std::array<std::pair<QCheckBox*, TAlarmKind>, kAlarmKindCount> AlarmBoxes() const;
  TAlarmKinds AlarmKindsShown() const;
  // The alarms' options in the INI's [Alarms] section, written only while one of them differs
  // from its default. With --alarm the boxes show its kinds, and the file keeps its own.
  void ReadAlarmOptions();
  void SaveAlarmOptions();
  // The sending schedule in [Sending], written likewise only while it differs from its default.
  void ReadSendingOptions();
  void SaveSendingOptions();
  void WireAlarmChoices();
  // The banner, the tray and the sound follow the desk's alarms.
  void WireAlarms();
  void ShowAlarms();
  void SoundAlarm();
  // Acknowledged in the window (the banner, the tray menu) by the account it runs as; all
  // without an id.
  void AcknowledgeAlarms(std::optional<std::int64_t> id);

  // MainFormHistory.cpp
  // Its options (dropping resent copies, the PDF archive, a broadcast listed once per so many
  // hours) show what FHistoryOptions holds, and go to the desk whenever one changes.
  void BuildHistoryWindow();
  void ShowHistoryOptions();
  // The history window's options: as read, until the window is made; then as its controls hold them.
  void HistoryOptionsOf(TDeskChoices& c) const;
  // The history window's options in the INI's [History] section, written only while one of
  // them differs from its default, so the file of an operator who never set them is unchanged.
  void ReadHistoryOptions();
  void SaveHistoryOptions();

  TMainFormSetup FSetup;
  QLabel* FPanels[3] = {nullptr, nullptr, nullptr};
  Qt::WindowStates FStateBeforeMinimize = Qt::WindowNoState;
  bool FEnding = false;
  bool FDestroyed = false;
  // Choices go to the desk once the start has restored them all (packets wait until then).
  bool FChoicesLive = false;
  bool FStartMinimized = false;
  bool FFirstStart = false;
  bool FPainted = false;
  // The hint bar's text waiting for its turn (SetHintText), and when it was last set.
  QString FHintPending;
  QTimer* FHintTimer = nullptr;
  QElapsedTimer FHintShown;
  QString FDeskHint;  // the desk's newest hint, waiting for the clock's tick
  bool FDeskHintWaits = false;
  bool FListsFilled = false;
  bool FPrinterBoxFilled = false;
  THostSettings::TTransport FShownTransport = THostSettings::htReplay;  // the Connection page's
  std::unique_ptr<TDeskRun> FRun;
  TMessageDesk* FDesk = nullptr;                            // the run's
  TPacketSources* FSources = nullptr;                       // the run's
  std::vector<QMetaObject::Connection> FChoiceConnections;  // the controls' changes to the desk
  THistoryWindow* FHistory = nullptr;                       // made at its first use
  TDeskChoices FHistoryOptions;            // the [History] section as read, while FHistory is not made
  TSendDialog* FSend = nullptr;            // made at its first use
  TBoardKeysDialog* FBoardKeys = nullptr;  // made at its first use
  TAlarmKinds FStoredAlarmKinds;           // as [Alarms] has them, whatever --alarm chose
  std::set<std::int64_t> FAlarmIds;        // the alarms shown, to tell a new one
  TAlarmSound* FAlarmSound = nullptr;
  QString FLinkStatus;
  bool FLinkStatusStale = false;  // a packet came since it was shown; the clock shows it
  bool FLinkShownDown = false;    // the tray icon and the link label show a link that is down
  bool FAlarmShown = false;       // the tray icon carries the alarm's mark
  std::vector<bool> FSourceDown;  // each source's last state was down: its fall is noticed once
  QStringList FNotices;           // in the notice line, oldest first
  // The Connection page's button row and the sources' column (their buttons move between them).
  QHBoxLayout* FConnectionButtons = nullptr;
  QVBoxLayout* FSourceColumn = nullptr;
};

}  // namespace qm
