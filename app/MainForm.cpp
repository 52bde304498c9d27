// The window's life: creation, showing and ending, the tray, the clocks, the hint and
// status bars, failures and Qt's events. Its controls are built in MainFormLayout.cpp.
#include "app/MainForm.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QIcon>
#include <QImageReader>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPixmap>
#include <QShowEvent>
#include <QSignalBlocker>
#include <QStatusBar>
#include <QStatusTipEvent>
#include <QTimer>
#include <QWindowStateChangeEvent>
#include <algorithm>
#include <cstdio>
#ifdef QM_HAVE_DBUS_TRAY
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusInterface>
#endif

#include "app/AlarmBanner.h"
#include "app/ErrorBox.h"
#include "app/LinkLook.h"
#include "base/AsciiText.h"
#include "base/ProgramText.h"
#include "generated/QuillmarkVersion.h"
#include "run/StartTrace.h"
#include "select/Selection.h"

namespace qm {
namespace {

constexpr const char* kClockPattern = " hh:nn:ss  mm/dd/yy";
// Packets set the hint hundreds of times a second, and laying its text out each time cost the
// window more than the packets themselves: it is set at most this often, with the last text.
constexpr int kHintEveryMs = 150;
// The desk's hints (above all the packet just heard, a few times a second from a busy source)
// show with the clock's tick, with the heard count beside them, so the hint bar is painted once
// a second; one after a quiet second shows at once.
constexpr int kDeskHintEveryMs = 1000;

// Whether Qt's tray icon is a StatusNotifierItem: Qt takes one whenever a StatusNotifierHost
// is registered on the session bus, as asked here.
bool StatusNotifierTray() {
#ifdef QM_HAVE_DBUS_TRAY
  const QString watcher = QStringLiteral("org.kde.StatusNotifierWatcher");
  QDBusConnection bus = QDBusConnection::sessionBus();
  if (!bus.isConnected() || !bus.interface() || !bus.interface()->isServiceRegistered(watcher)) return false;
  QDBusInterface host(watcher, QStringLiteral("/StatusNotifierWatcher"), watcher, bus);
  return host.isValid() && host.property("IsStatusNotifierHostRegistered").toBool();
#else
  return false;
#endif
}

}  // namespace

QString VersionCaption(unsigned major, unsigned minor, unsigned release) {
  return QStringLiteral("Quillmark v%1.%2.%3").arg(major).arg(minor).arg(release);
}

QIcon ProgramIcon() {
  QIcon icon;
  for (int size : {16, 22, 32, 48}) {
    // Read as what they are: guessing the format loads every image plug-in (and libjpeg)
    // before the first paint.
    QImageReader reader(QStringLiteral(":/icons/quillmark-%1.png").arg(size), "png");
    reader.setAutoDetectImageFormat(false);
    icon.addPixmap(QPixmap::fromImage(reader.read()));
  }
  return icon;
}

void SetUpApplication() {
  QApplication::setApplicationName(QStringLiteral("Quillmark"));
  QApplication::setDesktopFileName(QStringLiteral("org.quillmark.Quillmark"));
  QApplication::setWindowIcon(ProgramIcon());
}

TMainForm::TMainForm(TMainFormSetup setup, QWidget* parent) : QMainWindow(parent), FSetup(std::move(setup)) {
  StartMark("window: begin");
  FPaths = FSetup.IniFile.empty() ? ResolveAppPaths(QCoreApplication::applicationDirPath().toStdString())
                                  : TAppPaths{FSetup.IniFile, FSetup.LogDir};
  TDeskRunSetup run;
  run.Desk.DataDir = FPaths.LogDir;
  run.Desk.StoreFile = FSetup.StoreFile;
  run.Desk.Printers = FSetup.Printers;
  run.Desk.PrintToFile = FSetup.PrintToFile;
  run.Desk.Ticks = FSetup.Ticks;
  run.Desk.Clock = FSetup.Clock;
  run.Desk.SpoolPoll = FSetup.SpoolPoll;
  run.IniFile = FPaths.IniFile;
  run.Options = FSetup.Options;
  run.DefaultTransport = FSetup.DefaultTransport;
  run.MakeLink = FSetup.CreateHost;
  FRun = std::make_unique<TDeskRun>(std::move(run));
  FFirstStart = FRun->FirstStart();
  FSettings = &FRun->Settings();
  FDesk = &FRun->Desk();
  FSources = &FRun->Sources();
  StartMark("run made");
  BuildControls();
  StartMark("controls built");
  WireControls();
  CreateDesk();
  StartMark("desk made");
  ReadOwnCallsign = [this] {
    if (!clsUIV1) return std::string();
    clsUIV1->FillMyInfo(clsMyInfo1);
    return clsMyInfo1.MyCallsign();
  };
  CloseQuery = [this] { return FormCloseQuery(); };
  Closing = [this] { WindowClosing(); };
  FormCreate();
  FRun->Start(*this);
  StartMark("window: made");
}

TMainForm::~TMainForm() {
  FormDestroy();
}

// --- Creation, showing, destruction -----------------------------------------------

void TMainForm::RunSetupStep(const std::function<void()>& step) {
  qm::RunGuarded(step, [this](const QString& message) { ReportStepFailure(message); });
}

void TMainForm::ReportStepFailure(const QString& message) {
  if (FSetup.ReportError) {
    FSetup.ReportError(message);
    return;
  }
  // Shown once the event loop runs, so a box never holds up the start: a replay that ends
  // while it is open ends the program (ending leaves every event loop, the box's too).
  QMetaObject::invokeMethod(
      this,
      [this, message] {
        // Kept where a later look finds it too (a source left out, a store moved aside).
        if (!FEnding) {
          LogMessage(ProgramText(message));
          std::fprintf(stderr, "quillmark: %s\n", message.toLocal8Bit().constData());
        }
        ReportError(message);
      },
      Qt::QueuedConnection);
}

// --- The start, as the window shows it ----------------------------------------------

void TMainForm::StepFailed(const QString&, const QString& why) {
  ReportStepFailure(why);
}

void TMainForm::SourcesRead(TDeskRun&) {
  FHostSettings = FSources->At(0).Settings;
  ShowHostSettings();
}

void TMainForm::ChoosePrinter(TDeskRun&) {
  // Asking the spooler for its printers waits for the first paint, unless the printers are
  // given or one was chosen on the command line: then it is chosen before any packet.
  if (FSetup.Printers || !FSetup.Options.Printer.isEmpty()) {
    FPrinterBoxFilled = true;
    FillPrinterBox();
  }
}

void TMainForm::ConnectSource(TDeskRun&, std::size_t index) {
  ConnectSource(index);
}

void TMainForm::HandOverChoices(TDeskRun& run) {
  // The settings file gets this version once the sources run.
  run.Step("The version record", [this] { WriteVersionRecord(); });
  run.Step("The window's state", [this] { RestoreState(); });
  StartMark("state restored");
  ReadStationCall();
  // One hand-over of everything restored (the list's count needs the page setting); from here
  // on each change goes over as it happens.
  FChoicesLive = true;
  PushChoices();
}

void TMainForm::Ready(TDeskRun&) {
  if (FFirstStart) {
    // Nothing chosen yet: the page where the operator says who and where from, and whether
    // messages to the station call until acknowledged.
    PageControl1->setCurrentWidget(tsConnection);
    cbWelcomeAlarm->setVisible(true);
    edCallsign->setFocus();
  }
  FDesk->SetReady(ppLater);
  // The lists (and the printer's state) the first paint does not need come once it is done (at once when the
  // window starts hidden).
  QTimer::singleShot(0, this, [this] {
    // A minimised window may not paint until it is restored.
    if (!isVisible() || isMinimized() || FPainted) FillDeferredLists();
  });
}

void TMainForm::FormCreate() {
  setWindowTitle(VersionCaption(version::Major, version::Minor, version::Release));
  SetPanelText(0, QStringLiteral(" ") + QString::fromUtf8(version::LegalCopyright));
  FPanels[0]->setToolTip(QString::fromUtf8(version::LegalCopyright));  // the panel may cut it
  PageControl1->setCurrentIndex(0);
  FDesk->ClearRepeats();
  // Minimising reaches AppMinimize through changeEvent.
  ShowTrayIcon();
  ShowLinkStatus();
  FTrayIcon->setContextMenu(mnuTrayPopup);
  // Shown with the deferred lists: Qt's tray first looks for a notification host on the
  // session bus, which costs the start a connection (where there is no bus, an attempt to
  // launch one).
}

void TMainForm::FormShow() {
  ReadStationCall();
}

void TMainForm::ReadStationCall() {
  if (!ReadOwnCallsign) return;
  std::string call;
  if (!RunGuarded([&] { call = ReadOwnCallsign(); })) return;
  // An empty answer: the host does not know it (any more).
  FStationCall = UpperCase(call);
  PushChoices();
  lblStationCall->setText(FStationCall.empty()
                              ? QStringLiteral("[NOCALL]")
                              : QStringLiteral("[") + DisplayText(FStationCall) + QStringLiteral("]"));
}

void TMainForm::FormDestroy() {
  if (FDestroyed) return;
  FDestroyed = true;
  // The controls outlive this object's own destructor; their last signals must not reach it.
  for (const QMetaObject::Connection& c : FChoiceConnections) disconnect(c);
  // No packet may reach a window that is going away, and the board asks nothing more.
  FRun->StopBoard();
  clsUIV1 = nullptr;
  FSources->Clear();
  RunGuarded([this] { SaveUnsavedState(); });
  if (Destroying) {
    // No box can be shown from a destructor; the failure is written where it can be read.
    try {
      Destroying();
    } catch (const std::exception& e) {
      qWarning("Quillmark: failure while closing down: %s", e.what());
    } catch (...) {
      qWarning("Quillmark: unknown failure while closing down");
    }
  }
  FDesk->Close();  // the logger writes what is still queued
  if (FTrayIcon) FTrayIcon->hide();
}

void TMainForm::clsUIV1UIView32IsClosing() {
  // The desk judges what the host handed over, then asks to end (EndNow).
  FDesk->HostClosing();
}

void TMainForm::EndNow() {
  FEnding = true;
  // Gone from the screen at once, its place and size kept first: the run may still wait a
  // moment for a full text's exchange to reach its own bounds before the process ends.
  SaveUnsavedState();
  hide();
  if (FTrayIcon) FTrayIcon->hide();
  if (EndApplication)
    EndApplication();
  else
    QCoreApplication::exit(0);  // leaves the loop without closing windows, so no question
}

bool TMainForm::HasDisplay() const {
  if (FSetup.HasDisplay) return FSetup.HasDisplay();
  const QString platform = QGuiApplication::platformName();
  return platform != QLatin1String("offscreen") && platform != QLatin1String("minimal");
}

void TMainForm::DemoOver() {
  const QString text = QStringLiteral("The demo is over; choose a source");
  FSources->SetState(0, text);
  SetHintText(text);
  PageControl1->setCurrentWidget(tsConnection);
}

// --- Tray ---------------------------------------------------------------------------

void TMainForm::ShowTrayIcon() {
  QIcon icon = FLinkShownDown ? LinkDownIcon(windowIcon()) : windowIcon();
  FTrayIcon->setIcon(FAlarmShown ? AlarmIcon(icon) : icon);
}

bool TMainForm::TrayAvailable() const {
  return FSetup.TrayAvailable ? FSetup.TrayAvailable() : QSystemTrayIcon::isSystemTrayAvailable();
}

void TMainForm::AppMinimize() {
  // Without a notification area a hidden window could never come back: stay minimised.
  if (!TrayAvailable()) return;
  // Hiding inside the state change confuses some window managers; do it right after.
  QMetaObject::invokeMethod(
      this,
      [this] {
        if (isMinimized()) hide();
      },
      Qt::QueuedConnection);
}

bool TMainForm::TrayDoubleClicks() const {
  if (FSetup.TrayDoubleClicks) return FSetup.TrayDoubleClicks();
  static const bool doubleClicks = !StatusNotifierTray();
  return doubleClicks;
}

void TMainForm::WMTrayIcon(QSystemTrayIcon::ActivationReason reason) {
  // The right-button menu is the icon's context menu; a single click does nothing, except
  // where the tray never reports a double click: there the click is all there is.
  if (reason == QSystemTrayIcon::DoubleClick || (reason == QSystemTrayIcon::Trigger && !TrayDoubleClicks()))
    miRestoreClick();
}

void TMainForm::miRestoreClick() {
  setWindowState(FStateBeforeMinimize & ~Qt::WindowMinimized);
  show();
  raise();
  activateWindow();
}

void TMainForm::ShowInitially(bool minimized) {
  if (!minimized)
    show();
  else if (!TrayAvailable())
    showMinimized();
  // else: only the tray icon; the window first shows when it is restored
}

void TMainForm::miExitClick() {
  // Ends at once without the close question; the store keeps what is unprinted.
  FDesk->KeepUnprintedForNextStart();
  EndNow();
}

// --- Clock --------------------------------------------------------------------------

void TMainForm::tmrClockTimer() {
  const TDateTime utc = Now(tfUTC);
  // The same separators as the list's time lines.
  const TRegionalSeparators separators = RegionalSeparators();
  SetPanelText(1, QString::fromStdString(FormatDateTime(kClockPattern, Now(tfLocal), separators) + " LOCAL"));
  SetPanelText(2, QString::fromStdString(FormatDateTime(kClockPattern, utc, separators) + " UTC"));
  if (FLinkStatusStale) ShowLinkStatus();
  if (FDeskHintWaits) SetHintText(FDeskHint);
  FRun->Tick(utc);
}

// --- Hint and status bars -----------------------------------------------------------

void TMainForm::SetHintText(const QString& text) {
  FDeskHintWaits = false;  // a newer text stands over the desk's waiting one
  FHintPending = text;
  if (FHintTimer && FHintTimer->isActive()) return;
  const qint64 since = FHintShown.isValid() ? FHintShown.elapsed() : kHintEveryMs;
  if (since >= kHintEveryMs) {
    ShowPendingHint();
    return;
  }
  if (!FHintTimer) {
    FHintTimer = new QTimer(this);
    FHintTimer->setSingleShot(true);
    connect(FHintTimer, &QTimer::timeout, this, [this] { ShowPendingHint(); });
  }
  FHintTimer->start(int(kHintEveryMs - since));
}

void TMainForm::ShowPendingHint() {
  FHintShown.start();
  HintBar->showMessage(FHintPending);
}

void TMainForm::ShowDeskHint(const QString& text) {
  if (!FDeskHintWaits && (!FHintShown.isValid() || FHintShown.elapsed() >= kDeskHintEveryMs)) {
    SetHintText(text);
    return;
  }
  FDeskHint = text;
  FDeskHintWaits = true;
}

QString TMainForm::HintText() const {
  // What the bar shows, or is about to.
  if (FDeskHintWaits) return FDeskHint;
  return FHintTimer && FHintTimer->isActive() ? FHintPending : HintBar->currentMessage();
}

void TMainForm::SetPanelText(int panel, const QString& text) {
  if (panel >= 0 && panel < 3) FPanels[panel]->setText(text);
}

QString TMainForm::PanelText(int panel) const {
  return (panel >= 0 && panel < 3) ? FPanels[panel]->text() : QString();
}

void TMainForm::SourceChanged(int index) {
  if (FDestroyed) return;
  const std::size_t count = FSources->Count();
  // The list shows while there are several sources; the fields show the one chosen in it.
  if (lbSources->count() != static_cast<int>(count)) {
    const QSignalBlocker quiet(lbSources);
    const int row = std::min(lbSources->currentRow(), static_cast<int>(count) - 1);
    lbSources->clear();
    for (std::size_t i = 0; i < count; ++i) lbSources->addItem(QString());
    lbSources->setCurrentRow(std::max(0, row));
    lbSources->setVisible(count > 1);
    PlaceSourceButtons(count > 1);
    ShowHostSettings();
  }
  if (index >= 0 && static_cast<std::size_t>(index) == SelectedSource()) {
    const QString& state = FSources->At(SelectedSource()).State;
    lblConnectionState->setText(state);
    ShowLinkDown(*lblConnectionState, IsLinkDown(state));
  }
  if (index >= 0 && static_cast<std::size_t>(index) < count) {
    // A source that falls is noticed once, with the time it fell; its retries are not news.
    FSourceDown.resize(count, false);
    const TPacketSources::TSource& source = FSources->At(static_cast<std::size_t>(index));
    // "Not connected" is where every source starts (and a stopped one ends): no news.
    const bool fell = IsLinkDown(source.State) && source.State != QLatin1String("Not connected");
    const bool up = IsLinkUp(source.State);
    if (fell && !FSourceDown[static_cast<std::size_t>(index)]) {
      const QString name = FSources->Name(static_cast<std::size_t>(index));
      AddNotice((name.isEmpty() ? QString::fromLatin1(TransportName(source.Settings.Transport)) : name) +
                QStringLiteral(" is down since ") +
                QString::fromStdString(FormatDateTime("hh:nn:ss", Now(tfLocal))) + QStringLiteral(": ") +
                source.State);
    }
    // "Connecting" between two tries leaves it fallen; only being up again lifts it.
    if (fell || up) FSourceDown[static_cast<std::size_t>(index)] = fell;
  }
  const bool down = FSources->AnyDown();
  if (down != FLinkShownDown) {
    FLinkShownDown = down;
    ShowTrayIcon();
    ShowLinkDown(*lblLinkStatus, down);
  }
  ShowLinkStatus();
}

void TMainForm::ShowLinkStatus() {
  FLinkStatusStale = false;
  const std::size_t count = FSources->Count();
  const std::uint64_t packets = FDesk ? FDesk->PacketsHeard() : 0;
  const auto counted = [](std::uint64_t n) { return QString::number(n) + (n == 1 ? " packet" : " packets"); };
  const QString heard = packets == 0
                            ? QStringLiteral("no packets yet")
                            : counted(packets) + QStringLiteral(", last ") +
                                  QString::fromStdString(FormatDateTime("hh:nn:ss", FDesk->LastPacketAt()));
  QStringList states;
  qsizetype downFirst = 0;
  QString tip = QString::fromLatin1(kTrayTip);
  for (std::size_t i = 0; i < count; ++i) {
    const TPacketSources::TSource& source = FSources->At(i);
    const QString name = FSources->Name(i);
    const QString kind = source.Link ? source.Link->SourceKind() : QString();
    // A source that is down comes first, so the cut to fit keeps it in sight.
    const QString state = (name.isEmpty() ? QString() : name + QStringLiteral(": ")) + source.State;
    if (IsLinkDown(source.State))
      states.insert(downFirst++, state);
    else
      states << state;
    // With one source its count is the desk's: every packet heard, whoever handed it over.
    tip += QStringLiteral("\n") + (kind.isEmpty() ? QString() : kind + QStringLiteral(": ")) + source.State +
           QStringLiteral(", ") + counted(count == 1 ? packets : source.Packets);
    QListWidgetItem* row =
        i < static_cast<std::size_t>(lbSources->count()) ? lbSources->item(static_cast<int>(i)) : nullptr;
    if (row && count > 1) {
      const QString shown =
          name.isEmpty() ? QString::fromLatin1(TransportName(source.Settings.Transport)) : name;
      row->setText(QStringLiteral("%1. %2: %3 \u2014 %4")
                       .arg(i + 1)
                       .arg(shown, source.State, counted(source.Packets)));
      row->setToolTip(row->text());
      const bool down = IsLinkDown(source.State);
      row->setBackground(down ? QBrush(QColor(0xd3, 0x2f, 0x2f)) : QBrush());
      row->setForeground(down ? QBrush(Qt::white) : QBrush());
    }
  }
  FLinkStatus = states.join(QStringLiteral("; ")) + QStringLiteral(" \u2014 ") + heard;
  // Cut in the middle to fit: the source's start and the time of the last packet stay.
  const QFontMetrics metrics = lblLinkStatus->fontMetrics();
  const int width = lblLinkStatus->maximumWidth() - 2 * lblLinkStatus->frameWidth() -
                    2 * lblLinkStatus->margin() - metrics.horizontalAdvance(QLatin1Char('x'));
  lblLinkStatus->setText(metrics.elidedText(FLinkStatus, Qt::ElideMiddle, width));
  lblLinkStatus->setToolTip(FLinkStatus);

  for (const QString& problem : FDesk->PrinterProblems()) tip += QStringLiteral("\n") + problem;
  if (FTrayIcon->toolTip() != tip) FTrayIcon->setToolTip(tip);
}

// --- Notices ------------------------------------------------------------------------

void TMainForm::AddNotice(const QString& text) {
  if (FDestroyed || text.isEmpty() || FNotices.contains(text)) return;
  // A flood (every acknowledgement of a busy hour that did not go out) keeps its newest.
  constexpr qsizetype kKept = 50;
  FNotices << text;
  if (FNotices.size() > kKept) FNotices.remove(0, FNotices.size() - kKept);
  ShowNotices();
}

void TMainForm::btnDismissNoticeClick() {
  FNotices.clear();
  ShowNotices();
}

void TMainForm::ShowNotices() {
  // The newest three in the line; every one in its tip.
  constexpr qsizetype kShown = 3;
  const qsizetype earlier = std::max<qsizetype>(0, FNotices.size() - kShown);
  QStringList lines = FNotices.mid(earlier);
  if (earlier > 0) lines.prepend(QStringLiteral("(%1 earlier notices in the tip)").arg(earlier));
  lblNotice->setText(lines.join(QLatin1Char('\n')));
  lblNotice->setToolTip(FNotices.join(QLatin1Char('\n')));
  pnlNotice->setVisible(!FNotices.isEmpty());
}

// --- Failures -----------------------------------------------------------------------

void TMainForm::ReportError(const QString& message) {
  if (FSetup.ReportError) {
    FSetup.ReportError(message);
  } else if (FEnding) {
    // Ending at once (the host closed, Exit, a signal): nobody may be there to answer a box,
    // so the failure goes to the log and standard error instead.
    LogMessage(ProgramText(message));
    std::fprintf(stderr, "quillmark: %s\n", message.toLocal8Bit().constData());
  } else {
    ShowErrorBox(this, message);
  }
}

bool TMainForm::RunGuarded(const std::function<void()>& action) {
  return qm::RunGuarded(action, [this](const QString& message) { ReportError(message); });
}

void TMainForm::btnBrowseCaptureClick() {
  RunGuarded([this] {
    const QString file = ChooseCaptureFile
                             ? ChooseCaptureFile()
                             : QFileDialog::getOpenFileName(this, QStringLiteral("Choose a capture file"),
                                                            edCaptureFile->text());
    if (!file.isEmpty()) edCaptureFile->setText(file);
  });
}

// --- Events -------------------------------------------------------------------------

bool TMainForm::event(QEvent* event) {
  // Qt raises a status tip as the pointer enters a control; it goes to the hint bar,
  // not to the clock panels.
  if (event->type() == QEvent::StatusTip) {
    SetHintText(static_cast<QStatusTipEvent*>(event)->tip());
    return true;
  }
  if (event->type() == QEvent::Paint && !FPainted) {
    FPainted = true;
    StartPainted();
    QTimer::singleShot(0, this, [this] { FillDeferredLists(); });
  }
  return QMainWindow::event(event);
}

void TMainForm::showEvent(QShowEvent* event) {
  StartMark("window shown");
  QMainWindow::showEvent(event);
  if (!event->spontaneous()) FormShow();
}

void TMainForm::closeEvent(QCloseEvent* event) {
  if (FEnding) {
    event->accept();
    return;
  }
  bool allow = true;
  if (CloseQuery && !RunGuarded([&] { allow = CloseQuery(); })) allow = false;
  if (!allow) {
    event->ignore();
    return;
  }
  if (Closing) RunGuarded([this] { Closing(); });
  event->accept();
}

void TMainForm::changeEvent(QEvent* event) {
  QMainWindow::changeEvent(event);
  if (event->type() != QEvent::WindowStateChange || !isMinimized() || FEnding) return;
  const auto old = static_cast<QWindowStateChangeEvent*>(event)->oldState();
  if (!(old & Qt::WindowMinimized)) FStateBeforeMinimize = old;
  AppMinimize();
}

}  // namespace qm
