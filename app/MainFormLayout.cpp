// The window's controls: the pages, the printer box, the status bars and the tray icon, with
// their names, captions and hints. What the controls do lives in the other MainForm*.cpp files.
#include "app/MainForm.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QFrame>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPlainTextEdit>
#include <QProxyStyle>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QSpinBox>
#include <QStatusBar>
#include <QTabWidget>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>
#include <initializer_list>
#include <utility>
#include <vector>
#ifdef QM_HAVE_SERIAL_HOST_LINK
#include "host/KissSerialHostLink.h"
#endif

#include "app/AlarmBanner.h"
#include "app/UpperCaseValidator.h"
#include "base/AsciiText.h"
#include "base/ProgramText.h"
#include "finger/FingerClient.h"
#include "generated/QuillmarkVersion.h"
#include "print/ProgramFont.h"
#include "run/StartTrace.h"
#include "select/Selection.h"
#include "widgets/PayPalLabel.h"

namespace qm {
namespace {

const char* const kAboutText =
    "Quillmark prints the APRS text messages you care about.\n"
    "\n"
    "It needs a station program or another source that hands it the packets your station "
    "monitors. Choose one on the \"Connection\" page: the bundled demo traffic (or any capture "
    "file), an APRS-IS server, or a KISS TNC reached over TCP.\n"
    "\n"
    "Its purpose is to give you a simple way to print the messages you receive.\n"
    "\n"
    "The options on the \"Message Options\" page choose which messages are printed: those to "
    "and from this station, those to and from the calls or station names in the list, all "
    "bulletins and all announcements. \"Printed messages per page\" sets how many messages are "
    "collected before a page is ejected.\n"
    "\n"
    "A call or station name in the list may end in a wild card, for example NOCALL* (it "
    "catches NOCALL, NOCALL-7 and NOCALLX alike).\n"
    "\n"
    "The \"NWS Options\" page prints the National Weather Service watches, warnings and "
    "advisories you pick for the states you check, and can fetch the full text of each such "
    "alert by Finger and print it on a page of its own.\n"
    "\n"
    "73 and happy printing from the Quillmark developers!";

template <typename W>
W* Named(W* widget, const char* name) {
  widget->setObjectName(QString::fromLatin1(name));
  return widget;
}

// The short hint shows as a tool tip, the long one in the hint bar.
void Hint(QWidget* widget, const char* text) {
  widget->setStatusTip(QString::fromUtf8(text));
  widget->setToolTip(QString::fromUtf8(text));
}

QCheckBox* MakeCheck(const char* name, const char* caption, const char* hint, bool checked) {
  auto* box = Named(new QCheckBox(QString::fromUtf8(caption)), name);
  Hint(box, hint);
  box->setChecked(checked);
  return box;
}

QPushButton* MakeButton(const char* name, const char* caption, const char* hint) {
  auto* button = Named(new QPushButton(QString::fromUtf8(caption)), name);
  Hint(button, hint);
  return button;
}

QLineEdit* MakeEdit(const char* name, const char* text, const char* hint) {
  auto* edit = Named(new QLineEdit(QString::fromUtf8(text)), name);
  Hint(edit, hint);
  return edit;
}

// The text the window draws again while packets flow (the list, the hint, the clocks) is
// Latin, and the list's font of fixed pitch: without OpenType shaping it looks the same, and
// Qt then skips HarfBuzz, the larger part of what each such repaint costs.
QFont Unshaped(QFont font) {
  font.setStyleStrategy(QFont::StyleStrategy(font.styleStrategy() | QFont::PreferNoShaping));
  return font;
}

QLabel* MakeLabel(const char* name, const char* caption) {
  return Named(new QLabel(QString::fromUtf8(caption)), name);
}

// A label whose text changes while the program runs (the clocks, the counts): it paints its own
// background, so a new text repaints the label alone and not the bar or group beneath it.
QLabel* OwnBackground(QLabel* label) {
  label->setAutoFillBackground(true);
  return label;
}

// Check boxes a little smaller than the style's, so the rows of the state list stand apart.
class TCompactCheckStyle : public QProxyStyle {
 public:
  int pixelMetric(PixelMetric metric, const QStyleOption* option, const QWidget* widget) const override {
    if (metric == PM_IndicatorWidth || metric == PM_IndicatorHeight) return 11;
    return QProxyStyle::pixelMetric(metric, option, widget);
  }
};

// Keeps small buttons at the right end of a group box's title line, where the title leaves
// room, so the whole height below the title is left to the group's contents.
class TTitleLineButtons : public QObject {
 public:
  TTitleLineButtons(QGroupBox* box, std::initializer_list<QPushButton*> buttons)
      : QObject(box), FBox(box), FButtons(buttons) {
    int width = box->fontMetrics().horizontalAdvance(box->title()) + 2 * kGap;
    for (QPushButton* button : FButtons) {
      button->setParent(box);
      button->setFixedWidth(button->fontMetrics().horizontalAdvance(button->text()) + 16);
      width += button->width() + kGap;
    }
    box->setMinimumWidth(width);
    box->installEventFilter(this);
  }

 protected:
  bool eventFilter(QObject*, QEvent* event) override {
    if (event->type() == QEvent::Resize || event->type() == QEvent::Show ||
        event->type() == QEvent::FontChange)
      Place();
    return false;
  }

 private:
  static constexpr int kGap = 4;

  void Place() {
    // The title line is the group's top margin.
    const int height =
        std::max(FBox->contentsMargins().top() - 1, FButtons.front()->fontMetrics().height() + 4);
    int right = FBox->width() - kGap;
    for (auto it = FButtons.rbegin(); it != FButtons.rend(); ++it) {
      (*it)->setGeometry(right - (*it)->width(), 0, (*it)->width(), height);
      right -= (*it)->width() + kGap;
    }
  }

  QGroupBox* FBox;
  std::vector<QPushButton*> FButtons;
};

}  // namespace

// --- Building ---------------------------------------------------------------------

void TMainForm::BuildControls() {
  setObjectName(QStringLiteral("MainForm"));
  setFont(ProgramFont(QStringLiteral("MS Sans Serif"), 8));
  setWindowIcon(ProgramIcon());
  resize(680, 449);

  auto* central = new QWidget;
  auto* column = new QVBoxLayout(central);
  column->setContentsMargins(4, 4, 4, 0);
  column->setSpacing(4);

  auto* top = new QHBoxLayout;
  top->setSpacing(4);
  top->addWidget(BuildPrinterGroup());

  gbPages = Named(new QGroupBox, "gbPages");
  gbPages->setFixedHeight(169);
  auto* pagesLayout = new QVBoxLayout(gbPages);
  pagesLayout->setContentsMargins(4, 4, 4, 4);
  PageControl1 = Named(new QTabWidget, "PageControl1");
  PageControl1->addTab(BuildMessageOptionsPage(), QStringLiteral("Message Options"));
  PageControl1->addTab(BuildNwsOptionsPage(), QStringLiteral("NWS Options"));
  StartMark("controls: option pages");
  PageControl1->addTab(BuildConnectionPage(), QStringLiteral("Connection"));
  StartMark("controls: connection page");
  PageControl1->addTab(BuildAlarmsPage(), QStringLiteral("Alarms"));
  PageControl1->addTab(BuildBoardPage(), QStringLiteral("Board"));
  PageControl1->addTab(BuildAboutPage(), QStringLiteral("About"));
  pagesLayout->addWidget(PageControl1);
  top->addWidget(gbPages, 1);
  column->addLayout(top);

  MessageList = Named(new TMessageList, "MessageList");
  MessageList->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  MessageList->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  MessageList->setFont(Unshaped(ProgramFont(QStringLiteral("Courier New"), 10)));
  {
    QPalette p = MessageList->palette();
    p.setColor(QPalette::Base, QColor(160, 160, 164));
    MessageList->setPalette(p);
  }
  Hint(MessageList, "Received messages that have not yet been printed");
  AlarmBanner = new TAlarmBanner;
  column->addWidget(AlarmBanner);
  column->addWidget(MessageList, 1);

  column->addWidget(BuildNoticeLine());

  HintBar = Named(new QStatusBar, "HintBar");
  HintBar->setSizeGripEnabled(false);
  HintBar->setFont(Unshaped(font()));
  lblLinkStatus = OwnBackground(MakeLabel("lblLinkStatus", ""));
  lblLinkStatus->setFrameStyle(QFrame::Panel | QFrame::Sunken);
  lblLinkStatus->setMaximumWidth(420);  // a longer status is cut, so hints keep their room
  lblLinkStatus->setStatusTip(QStringLiteral("Packet source, its state and the packets heard from it"));
  HintBar->addPermanentWidget(lblLinkStatus);
  HintBar->setFixedHeight(HintBar->sizeHint().height());  // one line, whatever the window's height
  column->addWidget(HintBar);

  setCentralWidget(central);
  FitStatesGrid();
  BuildStatusBars();
  BuildTray();

  tmrClock = Named(new QTimer(this), "tmrClock");
  tmrClock->setInterval(1000);
  connect(tmrClock, &QTimer::timeout, this, &TMainForm::tmrClockTimer);
  tmrClock->start();
}

QWidget* TMainForm::BuildPrinterGroup() {
  gbPrinter = Named(new QGroupBox(QStringLiteral("Printer")), "gbPrinter");
  gbPrinter->setFixedSize(169, 169);
  auto* layout = new QVBoxLayout(gbPrinter);
  layout->setContentsMargins(6, 4, 6, 6);
  layout->setSpacing(4);

  cbxPrinter = Named(new QComboBox, "cbxPrinter");
  cbxPrinter->setEditable(true);
  // Typing names no entry, and Return adds none: the typed text stays text.
  cbxPrinter->setInsertPolicy(QComboBox::NoInsert);
  cbxPrinter->setDuplicatesEnabled(true);
  cbxPrinter->setCompleter(nullptr);
  cbxPrinter->addItem(QStringLiteral("(default)"));
  cbxPrinter->setCurrentText(QStringLiteral("(default)"));
  Hint(cbxPrinter, "The printer used when printing messages");
  cbDisablePrinting =
      MakeCheck("cbDisablePrinting", "Disable printing", "Disable printing received messages", false);
  btnClearMessages = MakeButton("btnClearMessages", "Clear message window", "Clear the message list");
  lbMsgStatus = OwnBackground(MakeLabel("lbMsgStatus", "0 of ?? messages collected"));
  btnPrintNow = MakeButton("btnPrintNow", "Print messages in list now", "Force printing of messages");
  btnHistory = MakeButton("btnHistory", "&History...", "Every message kept in the last 14 days; reprints");

  layout->addWidget(cbxPrinter);
  layout->addWidget(cbDisablePrinting);
  layout->addWidget(btnClearMessages);
  layout->addWidget(lbMsgStatus);
  layout->addWidget(btnPrintNow);
  layout->addWidget(btnHistory);
  layout->addStretch(1);
  return gbPrinter;
}

QWidget* TMainForm::BuildMessageOptionsPage() {
  tsMessageOptions = Named(new QWidget, "tsMessageOptions");
  auto* grid = new QGridLayout(tsMessageOptions);
  grid->setContentsMargins(6, 4, 6, 4);
  grid->setHorizontalSpacing(8);
  grid->setVerticalSpacing(2);

  cbThisStation = MakeCheck("cbThisStation", "Messages to and from this station",
                            "Collect messages sent to this station", true);
  lblStationCall = MakeLabel("lblStationCall", "[NOCALL]");
  cbBeepOnReceive = MakeCheck("cbBeepOnReceive", "Beep on received message",
                              "Sound an alarm whenever a message arrives", false);
  Label1 = MakeLabel("Label1", "Printed messages per page");
  edMsgCount = MakeEdit("edMsgCount", "20", "Number of messages to hold before printing a full page");
  edMsgCount->setFixedWidth(40);
  auto* countRow = new QHBoxLayout;
  countRow->addWidget(Label1);
  countRow->addWidget(edMsgCount);
  countRow->addStretch(1);

  gbGroups = Named(new QGroupBox(QStringLiteral("Groups")), "gbGroups");
  cbBull = MakeCheck("cbBull", "All Bulletins", "All bulletins will be printed", false);
  cbAnn = MakeCheck("cbAnn", "All Announcements", "All announcements will be printed", false);
  auto* groups = new QHBoxLayout(gbGroups);
  groups->setContentsMargins(6, 2, 6, 4);
  groups->addWidget(cbBull);
  groups->addWidget(cbAnn);

  cbStationList = MakeCheck(
      "cbStationList", "Messages to and from:", "Collect messages to/from the below listed items", false);
  lbStationList = Named(new QListWidget, "lbStationList");
  Hint(lbStationList, "Messages to and from these items are captured");
  edStation = MakeEdit(
      "edStation", "",
      "Enter items here to add to the list (a single trailing wild card \"*\" character is allowed)");
  edStation->setValidator(new TUpperCaseValidator(edStation));
  btnAdd = MakeButton("btnAdd", "Add", "Add entry to list");
  btnRemove = MakeButton("btnRemove", "Remove", "Remove selected list item from list");
  btnSaveSettings1 = MakeButton("btnSaveSettings1", "Save", "Save settings");

  auto* stationRow = new QHBoxLayout;
  stationRow->addWidget(cbThisStation);
  stationRow->addWidget(lblStationCall);
  stationRow->addStretch(1);

  auto* left = new QVBoxLayout;
  left->setSpacing(2);
  left->addLayout(stationRow);
  left->addWidget(cbBeepOnReceive);
  left->addLayout(countRow);
  left->addWidget(gbGroups);
  left->addStretch(1);

  auto* listButtons = new QVBoxLayout;
  listButtons->setSpacing(2);
  listButtons->addWidget(edStation);
  listButtons->addWidget(btnAdd);
  listButtons->addWidget(btnRemove);
  listButtons->addStretch(1);
  listButtons->addWidget(btnSaveSettings1);

  grid->addLayout(left, 0, 0, 2, 1);
  grid->addWidget(cbStationList, 0, 1, 1, 2);
  grid->addWidget(lbStationList, 1, 1);
  grid->addLayout(listButtons, 1, 2);
  grid->setColumnStretch(1, 1);
  grid->setRowStretch(1, 1);
  return tsMessageOptions;
}

QWidget* TMainForm::BuildAlarmsPage() {
  tsAlarms = Named(new QWidget, "tsAlarms");
  auto* grid = new QGridLayout(tsAlarms);
  grid->setContentsMargins(6, 4, 6, 4);
  grid->setHorizontalSpacing(12);
  grid->setVerticalSpacing(2);
  const char* hint = "Sound an alarm, again and again, and show it above the list until it is acknowledged";
  cbAlarmOwn = MakeCheck("cbAlarmOwn", "Messages to this station", hint, false);
  cbAlarmListed = MakeCheck("cbAlarmListed", "Messages of the listed calls", hint, false);
  cbAlarmBull = MakeCheck("cbAlarmBull", "Bulletins", hint, false);
  cbAlarmAnn = MakeCheck("cbAlarmAnn", "Announcements", hint, false);
  cbAlarmWatches = MakeCheck("cbAlarmWatches", "NWS watches", hint, false);
  cbAlarmWarnings = MakeCheck("cbAlarmWarnings", "NWS warnings", hint, false);
  cbAlarmAdvisories = MakeCheck("cbAlarmAdvisories", "NWS advisories", hint, false);
  spnAlarmRepeat = Named(new QSpinBox, "spnAlarmRepeat");
  spnAlarmRepeat->setRange(TDeskChoices::kMinAlarmRepeatSeconds, TDeskChoices::kMaxAlarmRepeatSeconds);
  spnAlarmRepeat->setValue(TDeskChoices::kDefaultAlarmRepeatSeconds);
  spnAlarmRepeat->setSuffix(QStringLiteral(" s"));
  Hint(spnAlarmRepeat, "How often an alarm sounds again until it is acknowledged");
  auto* repeat = MakeLabel("lblAlarmRepeat", "Sounds again every");
  repeat->setBuddy(spnAlarmRepeat);
  auto* note = MakeLabel("lblAlarmNote",
                         "Until acknowledged above the list, in the tray menu, on the board or by "
                         "\u201cquillmark --acknowledge\u201d. The kinds alarm only where they are kept.");
  note->setWordWrap(true);
  note->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
  grid->addWidget(MakeLabel("lblAlarms", "Alarm until acknowledged for:"), 0, 0, 1, 2);
  grid->addWidget(cbAlarmOwn, 1, 0);
  grid->addWidget(cbAlarmListed, 2, 0);
  grid->addWidget(cbAlarmBull, 3, 0);
  grid->addWidget(cbAlarmAnn, 4, 0);
  grid->addWidget(cbAlarmWatches, 1, 1);
  grid->addWidget(cbAlarmWarnings, 2, 1);
  grid->addWidget(cbAlarmAdvisories, 3, 1);
  auto* repeatRow = new QHBoxLayout;
  repeatRow->addWidget(repeat);
  repeatRow->addWidget(spnAlarmRepeat);
  repeatRow->addStretch(1);
  grid->addLayout(repeatRow, 1, 2);
  grid->addWidget(note, 2, 2, 3, 1, Qt::AlignTop);
  grid->setColumnStretch(2, 1);
  grid->setRowStretch(5, 1);
  return tsAlarms;
}

QWidget* TMainForm::BuildNwsOptionsPage() {
  tsNwsOptions = Named(new QWidget, "tsNwsOptions");
  auto* row = new QHBoxLayout(tsNwsOptions);
  // Narrow margins: every pixel goes to the state list.
  row->setContentsMargins(4, 2, 4, 2);
  row->setSpacing(4);

  gbNwsMessage = Named(new QGroupBox(QStringLiteral("NWS Message")), "gbNwsMessage");
  cbNWSWatches = MakeCheck("cbNWSWatches", "Watches", "Watches for selected states will be printed", false);
  cbNWSWarnings =
      MakeCheck("cbNWSWarnings", "Warnings", "Warnings for selected states will be printed", false);
  cbNWSAdvisiories =
      MakeCheck("cbNWSAdvisiories", "Advisories", "Advisories for selected states will be printed", false);
  auto* nws = new QVBoxLayout(gbNwsMessage);
  nws->setContentsMargins(6, 2, 6, 4);
  nws->setSpacing(2);
  nws->addWidget(cbNWSWatches);
  nws->addWidget(cbNWSWarnings);
  nws->addWidget(cbNWSAdvisiories);
  cbNwsWordsLine =
      MakeCheck("cbNwsWordsLine", "Print words",
                "Print NWS alerts' plain words under the entry: a fourth line on the page with the "
                "alert's event, areas and expiry in words",
                false);
  nws->addWidget(cbNwsWordsLine);
  cbHeaderFooter = MakeCheck("cbHeaderFooter", "Page header",
                             "Print a header and footer on every page: the station, the print time "
                             "(UTC) and the page number",
                             false);
  cbReprintMark = MakeCheck("cbReprintMark", "Mark reprints",
                            "Print \"REPRINT of job N\" at the top of every page of a reprint", true);
  cbOwnTraffic = MakeCheck("cbOwnTraffic", "Own traffic",
                           "List the messages this desk sends beside those it receives, and print them "
                           "with the next page",
                           false);
  gbPaper = Named(new QGroupBox(QStringLiteral("Paper")), "gbPaper");
  auto* paper = new QVBoxLayout(gbPaper);
  paper->setContentsMargins(6, 2, 6, 4);
  paper->setSpacing(2);
  paper->addWidget(cbHeaderFooter);
  paper->addWidget(cbReprintMark);
  paper->addWidget(cbOwnTraffic);
  btnSaveSettings2 = MakeButton("btnSaveSettings2", "Save", "Save settings");
  auto* first = new QVBoxLayout;
  first->addWidget(gbNwsMessage);
  first->addWidget(gbPaper);
  first->addStretch(1);
  first->addWidget(btnSaveSettings2);

  gbFinger =
      Named(new QGroupBox(QStringLiteral("Finger ") + QString::fromLatin1(kNwsFingerHost)), "gbFinger");
  const char* fingerHint = "Uses finger to retrieve full text of alert";
  cbNWSWatchesPrint = MakeCheck("cbNWSWatchesPrint", "Print full text of watch", fingerHint, false);
  cbNWSWarningsPrint = MakeCheck("cbNWSWarningsPrint", "Print full text of warning", fingerHint, false);
  cbNWSAdvisioriesPrint =
      MakeCheck("cbNWSAdvisioriesPrint", "Print full text of advisory", fingerHint, false);
  Label2 = MakeLabel("Label2", "Requires internet connection");
  {
    QFont f = Label2->font();
    f.setUnderline(true);
    Label2->setFont(f);
  }
  auto* finger = new QVBoxLayout(gbFinger);
  finger->setContentsMargins(6, 2, 6, 4);
  finger->setSpacing(2);
  finger->addWidget(cbNWSWatchesPrint);
  finger->addWidget(cbNWSWarningsPrint);
  finger->addWidget(cbNWSAdvisioriesPrint);
  cbFixedPitchFullText =
      MakeCheck("cbFixedPitchFullText", "Fixed pitch",
                "Print full texts in a fixed-pitch font: every character as wide as the next, so "
                "an NWS product keeps its columns on paper",
                false);
  finger->addWidget(cbFixedPitchFullText);
  finger->addStretch(1);
  finger->addWidget(Label2);
  // The area list under the first two columns, where they leave room: the state list keeps
  // its whole height.
  edNwsAreas = MakeEdit("edNwsAreas", "",
                        "Counties and zones of the checked states, such as OK_C109, OK_C* or TX_Z123; "
                        "empty: the whole state");
  lblNwsAreas = MakeLabel("lblNwsAreas", "Only areas:");
  lblNwsAreas->setBuddy(edNwsAreas);
  auto* areas = new QHBoxLayout;
  areas->addWidget(lblNwsAreas);
  areas->addWidget(edNwsAreas, 1);
  auto* columns = new QHBoxLayout;
  columns->addLayout(first);
  columns->addWidget(gbFinger);
  // The choices stand at their own height and scroll on the short page rather than being
  // pressed over one another; the state list beside them keeps the page's whole height.
  auto* scroll = Named(new QScrollArea, "sbNwsOptions");
  scroll->setFrameShape(QFrame::NoFrame);
  scroll->setWidgetResizable(true);
  scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  auto* content = new QWidget;
  content->setAutoFillBackground(false);
  scroll->viewport()->setAutoFillBackground(false);
  auto* left = new QVBoxLayout(content);
  left->setContentsMargins(0, 0, 0, 0);
  left->addLayout(columns, 1);
  left->addLayout(areas);
  scroll->setWidget(content);
  row->addWidget(scroll);

  gbStates = Named(new QGroupBox(QStringLiteral(" Selected States ")), "gbStates");
  clbStates = Named(new QListWidget, "clbStates");
  Hint(clbStates, "List of states - checked states are considered");
  clbStates->setSortingEnabled(true);
  // The codes flow in rows of equal cells, so more than half of them show on the short page.
  clbStates->setViewMode(QListView::ListMode);
  clbStates->setFlow(QListView::LeftToRight);
  clbStates->setWrapping(true);
  clbStates->setResizeMode(QListView::Adjust);
  clbStates->setUniformItemSizes(true);
  auto* style = new TCompactCheckStyle;
  style->setParent(clbStates);
  clbStates->setStyle(style);
  for (std::string_view code : kStateCodes) {
    auto* item = new QListWidgetItem(QString::fromLatin1(code.data(), static_cast<qsizetype>(code.size())));
    item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable);
    item->setCheckState(Qt::Unchecked);
    clbStates->addItem(item);
  }
  btnAllStates = MakeButton("btnAllStates", "All", "Select (check) all states");
  btnNoneStates = MakeButton("btnNoneStates", "None", "Unselect (uncheck) all states");
  new TTitleLineButtons(gbStates, {btnAllStates, btnNoneStates});
  auto* states = new QVBoxLayout(gbStates);
  states->setContentsMargins(0, 0, 0, 0);
  states->addWidget(clbStates);
  row->addWidget(gbStates, 1);
  return tsNwsOptions;
}

QWidget* TMainForm::BuildConnectionPage() {
  tsConnection = Named(new QWidget, "tsConnection");
  // The page is as high as the option pages whatever the window's size, so the sources stand
  // in a column of their own beside the fields (the list scrolls), and what still does not fit
  // (a long welcome note) scrolls instead of being drawn over.
  auto* page = new QVBoxLayout(tsConnection);
  page->setContentsMargins(0, 0, 0, 0);
  auto* scroll = Named(new QScrollArea, "sbConnection");
  scroll->setFrameShape(QFrame::NoFrame);
  scroll->setWidgetResizable(true);
  scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  page->addWidget(scroll);
  auto* content = new QWidget;
  content->setAutoFillBackground(false);
  scroll->setWidget(content);
  scroll->viewport()->setAutoFillBackground(false);
  auto* sides = new QHBoxLayout(content);
  sides->setContentsMargins(6, 4, 6, 4);
  sides->setSpacing(6);
  auto* grid = new QGridLayout;
  grid->setContentsMargins(0, 0, 0, 0);
  grid->setHorizontalSpacing(6);
  grid->setVerticalSpacing(3);

  cbxTransport = Named(new QComboBox, "cbxTransport");
  // Narrower than its longest entry when the sources' column takes room.
  cbxTransport->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
  cbxTransport->setMinimumContentsLength(8);
  // Each entry carries its transport, so the entries need not follow the transports' order.
  const auto transport = [this](const char* text, THostSettings::TTransport t) {
    cbxTransport->addItem(QString::fromUtf8(text), static_cast<int>(t));
  };
  transport("Replay a capture file", THostSettings::htReplay);
  transport("APRS-IS server", THostSettings::htAprsIs);
  transport("KISS TNC over TCP", THostSettings::htKissTcp);
#ifdef QM_HAVE_SERIAL_HOST_LINK
  transport("KISS TNC on a serial port", THostSettings::htKissSerial);
#endif
#ifdef QM_HAVE_COM_HOST_LINK
  transport("Station program on this machine", THostSettings::htStationProgram);
#endif
  Hint(cbxTransport, "Where the monitored packets come from");
  edServer = MakeEdit("edServer", THostSettings::DefaultAprsIsServer,
                      "Host name or address of the APRS-IS server or the KISS TNC");
  edPort = MakeEdit("edPort", "14580",
                    "TCP port of the APRS-IS server (usually 14580) or the KISS TNC (usually 8001)");
  edPort->setValidator(new QIntValidator(0, 65535, edPort));
  edPort->setFixedWidth(60);
  edCallsign = MakeEdit("edCallsign", "", "Your own callsign, used for this station and the server login");
  edCallsign->setPlaceholderText(QStringLiteral("your callsign, e.g. N0CALL-10"));
  edCallsign->setValidator(new TUpperCaseValidator(edCallsign));
  edFilter = MakeEdit("edFilter", THostSettings::DefaultAprsIsFilter,
                      "Filter the APRS-IS server applies to what it sends (t/m: all messages)");
  lblFilterHelp =
      MakeLabel("lblFilterHelp", "t/m all messages \u00b7 m/50 within 50 km \u00b7 b/CALL from CALL");
  lblFilterHelp->setToolTip(QStringLiteral(
      "The server sends only what the filter lets through. Filters can be combined with blanks, "
      "e.g. \"t/m m/100\"; on port 14580 an empty filter brings almost nothing."));
  // It wraps, or is cut, where the field leaves it less than a line: the tip has it all.
  lblFilterHelp->setWordWrap(true);
  lblFilterHelp->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
  cbxSerialDevice = Named(new QComboBox, "cbxSerialDevice");
  cbxSerialDevice->setEditable(true);
  Hint(cbxSerialDevice, "Serial port of the TNC in KISS mode (USB, Bluetooth or built-in serial)");
  cbxSerialBaud = Named(new QComboBox, "cbxSerialBaud");
  cbxSerialBaud->setEditable(true);
  for (const int speed : THostSettings::SerialSpeeds) cbxSerialBaud->addItem(QString::number(speed));
  cbxSerialBaud->setValidator(new QIntValidator(1, THostSettings::MaxSerialBaud, cbxSerialBaud));
  Hint(cbxSerialBaud, "Speed of the serial port in bits a second (8 data bits, no parity, 1 stop bit)");
  edCaptureFile = MakeEdit("edCaptureFile", "", "Capture file to replay (empty: the bundled demo traffic)");
  btnBrowseCapture = MakeButton("btnBrowseCapture", "...", "Choose a capture file to replay");
  btnBrowseCapture->setFixedWidth(28);
  connect(btnBrowseCapture, &QPushButton::clicked, this, [this] { btnBrowseCaptureClick(); });
  edPace = MakeEdit("edPace", "3", "Packets per second when replaying (0: as fast as the window takes them)");
  edPace->setFixedWidth(60);
  btnApplyConnection = MakeButton("btnApplyConnection", "Apply", "Connect with these settings");
  lblConnectionState = MakeLabel("lblConnectionState", "Not connected");
  Hint(lblConnectionState, "State of the connection to the packet source");
  btnAddSource = MakeButton("btnAddSource", "Add source",
                            "Hear another source at the same time, e.g. APRS-IS beside the TNC");
  btnRemoveSource = MakeButton("btnRemoveSource", "Remove", "Stop hearing the chosen source");
  btnRemoveSource->setVisible(false);
  lbSources = Named(new QListWidget, "lbSources");
  Hint(lbSources, "The sources heard at once; choose one to see or change its settings");
  // A line per source, cut at its end where the column is short of room: its name stays in
  // sight, its colour tells a source that is down, its tip and the state beside it (while it is
  // the chosen one) tell the rest.
  lbSources->setWordWrap(false);
  lbSources->setTextElideMode(Qt::ElideRight);
  lbSources->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  lbSources->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Ignored);
  // As wide as a source's kind and address, so the fields keep the rest of the designed width.
  lbSources->setMinimumWidth(
      lbSources->fontMetrics().horizontalAdvance(QStringLiteral("1. KISS 127.0.0.1:8001")) +
      2 * lbSources->frameWidth() + 8);
  lbSources->setVisible(false);
  connect(lbSources, &QListWidget::currentRowChanged, this, [this] { lbSourcesChange(); });
  cbAnswer =
      MakeCheck("cbAnswer", "Answer messages to your callsign",
                "Acknowledge each numbered message to this station, so its sender stops repeating it", false);
  // Short enough for its row; the tip says the rest.
  lblAnswerHelp =
      MakeLabel("lblAnswerHelp", "Sends \u201cackNN\u201d to the sender: a licensed call is needed");
  lblAnswerHelp->setToolTip(QStringLiteral(
      "Sends \u201cackNN\u201d to the sender over the TNC (on the air) or APRS-IS: a licensed callsign "
      "is needed"));
  lblAnswerHelp->setWordWrap(true);
  lblAnswerHelp->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
  edPasscode = MakeEdit("edPasscode", "",
                        "The APRS-IS passcode of your callsign: answering there needs a verified login");
  edPasscode->setValidator(new QIntValidator(0, 32767, edPasscode));
  edPasscode->setFixedWidth(60);
  connect(edCallsign, &QLineEdit::textChanged, this, [this] { ShowAnswerCaption(); });
  lblSourceNote = MakeLabel("lblSourceNote", "");
  lblSourceNote->setWordWrap(true);
  lblSourceNote->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);

  auto label = [](const char* text, QWidget* buddy) {
    auto* l = new QLabel(QString::fromUtf8(text));
    l->setBuddy(buddy);
    return l;
  };
  auto* captureRow = new QHBoxLayout;
  captureRow->setSpacing(2);
  captureRow->addWidget(edCaptureFile, 1);
  captureRow->addWidget(btnBrowseCapture);
  auto* filterRow = new QHBoxLayout;
  filterRow->setSpacing(6);
  filterRow->addWidget(edFilter, 1);
  filterRow->addWidget(lblFilterHelp);

  grid->addWidget(label("Packet source", cbxTransport), 1, 0);
  grid->addWidget(cbxTransport, 1, 1);
  grid->addWidget(label("Callsign", edCallsign), 1, 2);
  grid->addWidget(edCallsign, 1, 3);
  // Rows 2 and 3 hold what the chosen source uses; the fields of the others are hidden there.
  grid->addWidget(label("Server", edServer), 2, 0);
  grid->addWidget(edServer, 2, 1);
  grid->addWidget(label("Port", edPort), 2, 2);
  grid->addWidget(edPort, 2, 3);
  grid->addWidget(label("Serial port", cbxSerialDevice), 2, 0);
  grid->addWidget(cbxSerialDevice, 2, 1);
  grid->addWidget(label("Bits/s", cbxSerialBaud), 2, 2);
  grid->addWidget(cbxSerialBaud, 2, 3);
  grid->addWidget(label("Filter", edFilter), 3, 0);
  grid->addLayout(filterRow, 3, 1, 1, 3);
  grid->addWidget(label("Capture file", edCaptureFile), 3, 0);
  grid->addLayout(captureRow, 3, 1);
  grid->addWidget(label("Packets/s", edPace), 3, 2);
  grid->addWidget(edPace, 3, 3);
  // A long state wraps, and a long capture path in it is cut at the right, instead of widening
  // the window.
  lblConnectionState->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
  lblConnectionState->setWordWrap(true);
  auto* buttonRow = new QHBoxLayout;
  buttonRow->setSpacing(4);
  buttonRow->addWidget(btnAddSource);
  buttonRow->addWidget(btnRemoveSource);
  buttonRow->addWidget(btnApplyConnection);
  FConnectionButtons = buttonRow;
  grid->addWidget(cbAnswer, 4, 0, 1, 2);
  grid->addWidget(label("Passcode", edPasscode), 4, 2);
  grid->addWidget(edPasscode, 4, 3);
  // Its own line under the box, as wide as the fields: beside the box it had no room left.
  lblAnswerHelp->setIndent(
      cbAnswer->style()->pixelMetric(QStyle::PM_IndicatorWidth, nullptr, cbAnswer) +
      cbAnswer->style()->pixelMetric(QStyle::PM_CheckBoxLabelSpacing, nullptr, cbAnswer));
  grid->addWidget(lblAnswerHelp, 5, 0, 1, 4);
  // The schedule is the desk's, for every source that sends.
  spnSendTries = Named(new QSpinBox, "spnSendTries");
  spnSendTries->setRange(TSendSchedule::kMinTries, TSendSchedule::kMaxTries);
  spnSendTries->setValue(TSendSchedule::kDefaultTries);
  Hint(spnSendTries, "How many times a message you send goes out until its station answers");
  spnSendFirstGap = Named(new QSpinBox, "spnSendFirstGap");
  spnSendFirstGap->setRange(TSendSchedule::kMinFirstGapSeconds, TSendSchedule::kMaxFirstGapSeconds);
  spnSendFirstGap->setValue(TSendSchedule::kDefaultFirstGapSeconds);
  spnSendFirstGap->setSuffix(QStringLiteral(" s"));
  Hint(spnSendFirstGap,
       "The wait before the first resend of a message you send; each wait after it is twice as long (30 min "
       "at most)");
  spnSendTries->setSuffix(QStringLiteral(" times"));
  // Below the state and Apply, which the page shows first at its designed size; in the grid's
  // own columns, since a row of its own pushed every field past the page's edge.
  grid->addWidget(label("Send up to", spnSendTries), 8, 0);
  grid->addWidget(spnSendTries, 8, 1, Qt::AlignLeft);
  grid->addWidget(label("Resend in", spnSendFirstGap), 8, 2);
  grid->addWidget(spnSendFirstGap, 8, 3);
  grid->addWidget(lblConnectionState, 6, 0, 1, 2);
  grid->addLayout(buttonRow, 6, 2, 1, 2, Qt::AlignRight);
  grid->addWidget(lblSourceNote, 7, 0, 1, 4);
  // Offered at the first start only; the same choice as "to this station" on Message Options.
  cbWelcomeAlarm =
      MakeCheck("cbWelcomeAlarm", "Sound an alarm for messages to this station until they are acknowledged",
                "Messages to your callsign call you again and again until acknowledged", false);
  cbWelcomeAlarm->setVisible(false);
  grid->addWidget(cbWelcomeAlarm, 9, 0, 1, 4);
  grid->setColumnStretch(1, 1);
  grid->setRowStretch(10, 1);
  // With several sources their own buttons stand under their list (PlaceSourceButtons).
  FSourceColumn = new QVBoxLayout;
  FSourceColumn->setSpacing(3);
  FSourceColumn->addWidget(lbSources, 1);
  sides->addLayout(FSourceColumn, 2);
  sides->addLayout(grid, 5);
  return tsConnection;
}

void TMainForm::PlaceSourceButtons(bool several) {
  // One source: "Add source" beside Apply. Several: Add and Remove under the list, so the row
  // beside the state keeps only Apply and the fields keep their width.
  for (QPushButton* button : {btnAddSource, btnRemoveSource}) {
    FConnectionButtons->removeWidget(button);
    FSourceColumn->removeWidget(button);
  }
  if (several) {
    FSourceColumn->addWidget(btnAddSource);
    FSourceColumn->addWidget(btnRemoveSource);
  } else {
    FConnectionButtons->insertWidget(0, btnAddSource);
    FConnectionButtons->insertWidget(1, btnRemoveSource);
  }
}

void TMainForm::FillDeferredLists() {
  if (std::exchange(FListsFilled, true)) return;
  if (!FDestroyed && !FEnding) FTrayIcon->show();
  StartMark("tray shown");
#ifdef QM_HAVE_SERIAL_HOST_LINK
  // The device the settings name (or the operator typed meanwhile) stays the one shown.
  const QString device = cbxSerialDevice->currentText();
  {
    const QSignalBlocker quiet(cbxSerialDevice);
    cbxSerialDevice->addItems(SerialPortChoices());
  }
  cbxSerialDevice->setCurrentText(device);
#endif
  if (!std::exchange(FPrinterBoxFilled, true)) RunSetupStep([this] { FillPrinterBox(); });
  RunSetupStep([this] { FDesk->CheckPrinter(); });
  StartMark("lists filled");
}

QWidget* TMainForm::BuildAboutPage() {
  tsAbout = Named(new QWidget, "tsAbout");
  auto* layout = new QVBoxLayout(tsAbout);
  layout->setContentsMargins(4, 4, 4, 2);
  layout->setSpacing(2);

  Memo1 = Named(new QPlainTextEdit(QString::fromUtf8(kAboutText)), "Memo1");
  Memo1->setReadOnly(true);
  Memo1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  {
    QPalette p = Memo1->palette();
    p.setColor(QPalette::Base, p.color(QPalette::Window));
    Memo1->setPalette(p);
  }
  layout->addWidget(Memo1, 1);

  PayPalLabel1 = Named(new TPayPalLabel(QStringLiteral("If you like Quillmark consider making a donation")),
                       "PayPalLabel1");
  PayPalLabel1->SetLinkColor(QColor(255, 0, 0));
  PayPalLabel1->SetProduct(QStringLiteral("Quillmark"));
  PayPalLabel1->SetCompany(QString::fromLatin1(kDonationCompany));
  PayPalLabel1->SetEmail(QString::fromLatin1(kDonationEmail));
  layout->addWidget(PayPalLabel1, 0, Qt::AlignLeft);
  return tsAbout;
}

QWidget* TMainForm::BuildNoticeLine() {
  pnlNotice = Named(new QFrame, "pnlNotice");
  pnlNotice->setFrameStyle(QFrame::Box | QFrame::Plain);
  pnlNotice->setStyleSheet(
      QStringLiteral("#pnlNotice { background-color: #fff3c4; color: black; border: 1px solid "
                     "#c9a227; } #pnlNotice QLabel { color: black; }"));
  auto* row = new QHBoxLayout(pnlNotice);
  row->setContentsMargins(4, 2, 2, 2);
  row->setSpacing(6);
  lblNotice = MakeLabel("lblNotice", "");
  lblNotice->setWordWrap(true);
  lblNotice->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
  lblNotice->setTextInteractionFlags(Qt::TextSelectableByMouse);
  btnDismissNotice = MakeButton("btnDismissNotice", "Seen", "Clear these notices: you have read them");
  row->addWidget(lblNotice, 1);
  row->addWidget(btnDismissNotice, 0, Qt::AlignTop);
  pnlNotice->setVisible(false);
  return pnlNotice;
}

void TMainForm::FitStatesGrid() {
  // Every cell as wide as the widest code needs in the window's font, so the codes stand in
  // columns and none is cut.
  QSize cell;
  for (int i = 0; i < clbStates->count(); ++i)
    cell = cell.expandedTo(clbStates->sizeHintForIndex(clbStates->model()->index(i, 0)));
  clbStates->setGridSize(cell + QSize(0, 1));  // a pixel between the rows' boxes
}

void TMainForm::BuildStatusBars() {
  StatusBar = Named(new QStatusBar, "StatusBar");
  StatusBar->setFont(Unshaped(font()));
  const int widths[3] = {200, 150, 150};
  const char* texts[3] = {"", "Local", "UTC"};
  for (int i = 0; i < 3; ++i) {
    FPanels[i] = OwnBackground(new QLabel(QString::fromLatin1(texts[i])));
    FPanels[i]->setObjectName(QStringLiteral("StatusPanel%1").arg(i));
    FPanels[i]->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    // Of fixed size both ways, as the bar lays them out: the clocks' text each second then
    // repaints the panel alone, without the bar's layout being made again.
    FPanels[i]->setFixedSize(widths[i], FPanels[i]->sizeHint().height());
    StatusBar->addWidget(FPanels[i]);
  }
  setStatusBar(StatusBar);
}

void TMainForm::BuildTray() {
  mnuTrayPopup = Named(new QMenu(this), "mnuTrayPopup");
  miRestore = Named(mnuTrayPopup->addAction(QStringLiteral("Restore")), "miRestore");
  miHistory = Named(mnuTrayPopup->addAction(QStringLiteral("History...")), "miHistory");
  miAcknowledgeAlarms =
      Named(mnuTrayPopup->addAction(QStringLiteral("Acknowledge alarms")), "miAcknowledgeAlarms");
  miAcknowledgeAlarms->setVisible(false);
  miExit = Named(mnuTrayPopup->addAction(QStringLiteral("Exit")), "miExit");
  connect(miRestore, &QAction::triggered, this, [this] { RunGuarded([this] { miRestoreClick(); }); });
  connect(miHistory, &QAction::triggered, this, [this] { RunGuarded([this] { btnHistoryClick(); }); });
  connect(miExit, &QAction::triggered, this, [this] { RunGuarded([this] { miExitClick(); }); });

  FTrayIcon = Named(new QSystemTrayIcon(this), "FTrayIcon");
  connect(FTrayIcon, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
    RunGuarded([this, reason] { WMTrayIcon(reason); });
  });
}

void TMainForm::WireControls() {
  const auto on = [this](QPushButton* button, void (TMainForm::*handler)()) {
    connect(button, &QPushButton::clicked, this,
            [this, handler] { RunGuarded([this, handler] { (this->*handler)(); }); });
  };
  on(btnAdd, &TMainForm::btnAddClick);
  on(btnRemove, &TMainForm::btnRemoveClick);
  on(btnAllStates, &TMainForm::btnAllStatesClick);
  on(btnNoneStates, &TMainForm::btnNoneStatesClick);
  on(btnPrintNow, &TMainForm::btnPrintNowClick);
  on(btnClearMessages, &TMainForm::btnClearMessagesClick);
  on(btnHistory, &TMainForm::btnHistoryClick);
  on(btnSaveSettings1, &TMainForm::SaveSettings);
  on(btnSaveSettings2, &TMainForm::SaveSettings);
  on(btnApplyConnection, &TMainForm::btnApplyConnectionClick);
  on(btnAddSource, &TMainForm::btnAddSourceClick);
  on(btnRemoveSource, &TMainForm::btnRemoveSourceClick);
  on(btnDismissNotice, &TMainForm::btnDismissNoticeClick);
  // The printer box reacts to a picked entry and to typing alike.
  connect(cbxPrinter, &QComboBox::currentIndexChanged, this,
          [this] { RunGuarded([this] { cbxPrinterChange(); }); });
  connect(cbxPrinter->lineEdit(), &QLineEdit::textEdited, this, [this] {
    // Typed text leaves no entry current, so the system default printer serves.
    QLineEdit* edit = cbxPrinter->lineEdit();
    const QString text = edit->text();
    const int cursor = edit->cursorPosition();
    {
      const QSignalBlocker quiet(cbxPrinter);
      cbxPrinter->setCurrentIndex(-1);
    }
    edit->setText(text);
    edit->setCursorPosition(cursor);
    RunGuarded([this] { cbxPrinterChange(); });
  });
  connect(cbxTransport, &QComboBox::currentIndexChanged, this, [this] { cbxTransportChange(); });
  connect(edNwsAreas, &QLineEdit::editingFinished, this,
          [this] { RunGuarded([this] { edNwsAreasExit(); }); });
  cbDisablePrinting->installEventFilter(this);
}

}  // namespace qm
