#include "app/HistoryWindow.h"

#include <QCheckBox>
#include <QComboBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QSplitter>
#include <QTabWidget>
#include <QTableView>
#include <QThread>
#include <QTimer>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <algorithm>
#include <atomic>

#include "base/AsciiText.h"
#include "base/ProgramText.h"
#include "base/Timing.h"
#include "select/Selection.h"

namespace qm {
namespace {

// A pause in typing this long runs the filter.
constexpr int kTypingPauseMs = 250;
// The views' tabs.
constexpr int kBulletinsTab = 1;

}  // namespace

// --- The window -----------------------------------------------------------------------

// What the window and its searching thread share: the current question's number. A question
// whose number is no longer current stops where it is and its answer is dropped.
struct THistoryWindow::TSearch {
  std::atomic<std::uint64_t> Generation{0};
  bool Stale(std::uint64_t generation) const { return Generation.load() != generation; }
};

THistoryWindow::THistoryWindow(QWidget* parent) : QWidget(parent, Qt::Window) {
  setObjectName(QStringLiteral("HistoryWindow"));
  setWindowTitle(QStringLiteral("Message history"));
  resize(900, 560);

  edFindCall = new QLineEdit;
  edFindCall->setObjectName(QStringLiteral("edFindCall"));
  edFindCall->setPlaceholderText(QStringLiteral("Callsign or start*"));
  edFindCall->setToolTip(
      QStringLiteral("Messages from or to this station; a trailing \"*\" takes every call that starts so"));
  cbxFindKind = new QComboBox;
  cbxFindKind->setObjectName(QStringLiteral("cbxFindKind"));
  for (const char* kind :
       {"All kinds", "Personal", "Bulletin", "Announcement", "NWS watch", "NWS warning", "NWS advisory"})
    cbxFindKind->addItem(QString::fromLatin1(kind));
  edFindText = new QLineEdit;
  edFindText->setObjectName(QStringLiteral("edFindText"));
  edFindText->setPlaceholderText(QStringLiteral("Text"));
  edFindText->setToolTip(QStringLiteral("Messages whose text or NWS full text holds this"));
  lblFound = new QLabel;
  lblFound->setObjectName(QStringLiteral("lblFound"));

  Model = new THistoryModel(this);
  tvMessages = new QTableView;
  tvMessages->setObjectName(QStringLiteral("tvMessages"));
  tvMessages->setModel(Model);
  tvMessages->setSelectionBehavior(QAbstractItemView::SelectRows);
  tvMessages->setSelectionMode(QAbstractItemView::ExtendedSelection);
  tvMessages->setEditTriggers(QAbstractItemView::NoEditTriggers);
  tvMessages->setWordWrap(false);
  tvMessages->verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 4);
  tvMessages->verticalHeader()->hide();
  tvMessages->horizontalHeader()->setStretchLastSection(false);
  tvMessages->horizontalHeader()->setSectionResizeMode(THistoryModel::hcText, QHeaderView::Stretch);
  // Each column as wide as what it usually holds; Text takes the rest.
  const auto fits = [this](const char* sample) {
    return fontMetrics().horizontalAdvance(QString::fromLatin1(sample)) + 12;
  };
  FUsualWidths.assign(THistoryModel::hcCount, 0);
  FUsualWidths[THistoryModel::hcLocal] = fits("0000-00-00 00:00:00");
  FUsualWidths[THistoryModel::hcUtc] = fits("0000-00-00 00:00:00");
  FUsualWidths[THistoryModel::hcFrom] = fits("WB0WWW-15");
  FUsualWidths[THistoryModel::hcTo] = fits("WB0WWW-15");
  FUsualWidths[THistoryModel::hcKind] = fits("Announcement");
  FUsualWidths[THistoryModel::hcState] = 44;
  FUsualWidths[THistoryModel::hcWords] = fits("Tornado Warning - Tulsa County, OK");
  FUsualWidths[THistoryModel::hcNumber] = 52;
  FUsualWidths[THistoryModel::hcPrinted] = fits("Printing in job 00000");
  FUsualWidths[THistoryModel::hcAnswered] = fits("Answered 00:00:00 on KISS");

  memDetail = new QPlainTextEdit;
  memDetail->setObjectName(QStringLiteral("memDetail"));
  memDetail->setReadOnly(true);
  memDetail->setLineWrapMode(QPlainTextEdit::NoWrap);

  btnReprintSelected = new QPushButton(QStringLiteral("&Reprint selected"));
  btnReprintSelected->setObjectName(QStringLiteral("btnReprintSelected"));
  btnReprintSelected->setToolTip(QStringLiteral("Print the chosen messages again as a new page"));
  btnReprintJob = new QPushButton(QStringLiteral("Reprint &job"));
  btnReprintJob->setObjectName(QStringLiteral("btnReprintJob"));
  btnReprintJob->setToolTip(
      QStringLiteral("Print the page that carried this message again, as it was printed"));
  btnCommsLog = new QPushButton(QStringLiteral("ICS-309 log…"));
  btnCommsLog->setObjectName(QStringLiteral("btnCommsLog"));
  btnCommsLog->setToolTip(QStringLiteral(
      "The communications log of a period, messages in and out, saved as PDF and CSV in the data folder"));
  btnReply = new QPushButton(QStringLiteral("Reply…"));
  btnReply->setObjectName(QStringLiteral("btnReply"));
  btnReply->setToolTip(QStringLiteral("Send a message to the sender of this message"));
  btnSendNew = new QPushButton(QStringLiteral("Se&nd message…"));
  btnSendNew->setObjectName(QStringLiteral("btnSendNew"));
  btnSendNew->setToolTip(QStringLiteral("Send a message of your own, and see those sent and how they stand"));
  btnOpenArchive = new QPushButton(QStringLiteral("Open archive folder"));
  btnOpenArchive->setObjectName(QStringLiteral("btnOpenArchive"));

  auto* filters = new QHBoxLayout;
  filters->addWidget(new QLabel(QStringLiteral("Callsign:")));
  filters->addWidget(edFindCall);
  filters->addWidget(cbxFindKind);
  filters->addWidget(new QLabel(QStringLiteral("Text:")));
  filters->addWidget(edFindText, 1);
  filters->addWidget(lblFound);
  cbDropRetries = new QCheckBox(QStringLiteral("Drop resent messages within"));
  cbDropRetries->setObjectName(QStringLiteral("cbDropRetries"));
  cbDropRetries->setToolTip(QStringLiteral(
      "A message whose sender and number were listed within these minutes is not listed again"));
  edRetryMinutes = new QLineEdit(QStringLiteral("30"));
  edRetryMinutes->setObjectName(QStringLiteral("edRetryMinutes"));
  edRetryMinutes->setToolTip(QStringLiteral("Minutes a resent message is looked for (1 to 1440)"));
  edRetryMinutes->setFixedWidth(fontMetrics().horizontalAdvance(QStringLiteral("00000")) + 8);
  cbBroadcastOnce = new QCheckBox(QStringLiteral("Print a bulletin or NWS alert once per"));
  cbBroadcastOnce->setObjectName(QStringLiteral("cbBroadcastOnce"));
  cbBroadcastOnce->setToolTip(QStringLiteral(
      "A bulletin, announcement or NWS alert with the sender, addressee and text of one listed "
      "within these hours is not listed again, also after a restart"));
  edBroadcastHours = new QLineEdit(QStringLiteral("12"));
  edBroadcastHours->setObjectName(QStringLiteral("edBroadcastHours"));
  edBroadcastHours->setToolTip(QStringLiteral("Hours a repeated bulletin or alert is looked for (1 to 168)"));
  edBroadcastHours->setFixedWidth(fontMetrics().horizontalAdvance(QStringLiteral("0000")) + 8);
  cbArchivePdf = new QCheckBox(QStringLiteral("Keep a PDF of every printed page"));
  cbArchivePdf->setObjectName(QStringLiteral("cbArchivePdf"));
  cbArchivePdf->setToolTip(
      QStringLiteral("Every job sent to the printer is also kept as a PDF file for 14 days"));

  // The reprint buttons and the options on rows of their own: in one row they would keep the
  // window wider than a small screen (800 pixels).
  auto* buttons = new QHBoxLayout;
  buttons->addWidget(btnReprintSelected);
  buttons->addWidget(btnReprintJob);
  buttons->addWidget(btnCommsLog);
  buttons->addStretch(1);
  buttons->addWidget(btnReply);
  buttons->addWidget(btnSendNew);
  auto* options = new QHBoxLayout;
  options->addWidget(cbDropRetries);
  options->addWidget(edRetryMinutes);
  options->addWidget(new QLabel(QStringLiteral("min")));
  options->addSpacing(12);
  options->addWidget(cbArchivePdf);
  options->addWidget(btnOpenArchive);
  options->addStretch(1);
  auto* split = new QSplitter(Qt::Vertical);
  split->addWidget(tvMessages);
  split->addWidget(memDetail);
  split->setStretchFactor(0, 3);
  split->setStretchFactor(1, 1);
  auto* messages = new QWidget;
  auto* messagesLayout = new QVBoxLayout(messages);
  messagesLayout->setContentsMargins(4, 4, 4, 4);
  messagesLayout->addLayout(filters);
  messagesLayout->addWidget(split, 1);
  messagesLayout->addLayout(buttons);

  // The bulletin board: a line per sender and line ID, its newest copy.
  tvBulletins = new QTreeWidget;
  tvBulletins->setObjectName(QStringLiteral("tvBulletins"));
  tvBulletins->setRootIsDecorated(false);
  tvBulletins->setUniformRowHeights(true);
  tvBulletins->setHeaderLabels({QStringLiteral("From"), QStringLiteral("Line"), QStringLiteral("Kind"),
                                QStringLiteral("UTC"), QStringLiteral("Text")});
  tvBulletins->header()->setStretchLastSection(true);
  tvBulletins->setColumnWidth(0, FUsualWidths[THistoryModel::hcFrom]);
  tvBulletins->setColumnWidth(1, fits("BLN0XXXXX"));
  tvBulletins->setColumnWidth(2, FUsualWidths[THistoryModel::hcKind]);
  tvBulletins->setColumnWidth(3, FUsualWidths[THistoryModel::hcUtc]);
  btnClearLine = new QPushButton(QStringLiteral("&Clear line"));
  btnClearLine->setObjectName(QStringLiteral("btnClearLine"));
  btnClearLine->setToolTip(
      QStringLiteral("Take the chosen line off the board; a new text under its ID brings it back"));
  lblBulletinAges = new QLabel;
  lblBulletinAges->setObjectName(QStringLiteral("lblBulletinAges"));
  auto* bulletins = new QWidget;
  auto* bulletinsLayout = new QVBoxLayout(bulletins);
  bulletinsLayout->setContentsMargins(4, 4, 4, 4);
  bulletinsLayout->addWidget(tvBulletins, 1);
  auto* bulletinButtons = new QHBoxLayout;
  bulletinButtons->addWidget(btnClearLine);
  bulletinButtons->addWidget(lblBulletinAges, 1);
  bulletinsLayout->addLayout(bulletinButtons);

  tabViews = new QTabWidget;
  tabViews->setObjectName(QStringLiteral("tabViews"));
  tabViews->addTab(messages, QStringLiteral("&Messages"));
  tabViews->addTab(bulletins, QStringLiteral("&Bulletins"));
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(tabViews, 1);
  layout->addLayout(options);
  auto* repeats = new QHBoxLayout;
  repeats->addWidget(cbBroadcastOnce);
  repeats->addWidget(edBroadcastHours);
  repeats->addWidget(new QLabel(QStringLiteral("h")));
  repeats->addStretch(1);
  layout->addLayout(repeats);

  FSearch = std::make_shared<TSearch>();
  FSearcher = new QThread(this);
  FSearcher->setObjectName(QStringLiteral("HistorySearch"));
  FSearcherContext = new QObject;
  FSearcherContext->moveToThread(FSearcher);
  connect(FSearcher, &QThread::finished, FSearcherContext, &QObject::deleteLater);
  FSearcher->start();

  FTyping = new QTimer(this);
  FTyping->setSingleShot(true);
  FTyping->setInterval(kTypingPauseMs);
  connect(FTyping, &QTimer::timeout, this, [this] { Refresh(); });
  connect(edFindCall, &QLineEdit::textEdited, FTyping, qOverload<>(&QTimer::start));
  connect(edFindText, &QLineEdit::textEdited, FTyping, qOverload<>(&QTimer::start));
  connect(edFindCall, &QLineEdit::returnPressed, this, [this] { Refresh(); });
  connect(edFindText, &QLineEdit::returnPressed, this, [this] { Refresh(); });
  connect(cbxFindKind, &QComboBox::currentIndexChanged, this, [this] { Refresh(); });
  connect(tvMessages->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
          [this] { ShowCurrent(); });
  connect(btnReprintSelected, &QPushButton::clicked, this,
          [this] { Run([this] { btnReprintSelectedClick(); }); });
  connect(btnReprintJob, &QPushButton::clicked, this, [this] { Run([this] { btnReprintJobClick(); }); });
  connect(btnCommsLog, &QPushButton::clicked, this, [this] { Run([this] { btnCommsLogClick(); }); });
  connect(btnReply, &QPushButton::clicked, this, [this] { Run([this] { btnReplyClick(); }); });
  connect(btnSendNew, &QPushButton::clicked, this, [this] {
    Run([this] {
      if (Compose) Compose(QString());
    });
  });
  connect(tabViews, &QTabWidget::currentChanged, this, [this] { Run([this] { RefreshBulletins(); }); });
  connect(btnClearLine, &QPushButton::clicked, this, [this] { Run([this] { btnClearLineClick(); }); });
  connect(btnOpenArchive, &QPushButton::clicked, this, [this] {
    Run([this] {
      if (OpenArchive) OpenArchive();
    });
  });
}

THistoryWindow::~THistoryWindow() {
  ++FSearch->Generation;  // a question running stops at once
  FSearcher->quit();
  FSearcher->wait();
}

THistoryFilter THistoryWindow::Filter() const {
  THistoryFilter filter;
  filter.Callsign = ProgramText(edFindCall->text());
  filter.Kind = static_cast<THistoryKind>(std::max(0, cbxFindKind->currentIndex()));
  filter.Text = ProgramText(edFindText->text());
  return filter;
}

void THistoryWindow::showEvent(QShowEvent* event) {
  if (!FFitted) {
    FFitted = true;
    FitToScreen();
  }
  QWidget::showEvent(event);
}

void THistoryWindow::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  FitColumns();
}

void THistoryWindow::FitToScreen() {
  const QWidget* over = parentWidget() ? parentWidget()->window() : nullptr;
  QScreen* screen = over ? over->screen() : this->screen();
  if (!screen) return;
  const QRect free = screen->availableGeometry();
  // The window manager's frame is not known before the first showing: take the main
  // window's as the measure.
  QMargins frame;
  if (over && over->isVisible()) {
    const QRect outer = over->frameGeometry(), inner = over->geometry();
    frame = QMargins(inner.left() - outer.left(), inner.top() - outer.top(), outer.right() - inner.right(),
                     outer.bottom() - inner.bottom());
  }
  const QRect room = free.marginsRemoved(frame);
  QSize size(std::min(room.width(), std::max(900, room.width() * 9 / 10)),
             std::min(room.height(), std::max(560, room.height() * 8 / 10)));
  size = size.expandedTo(minimumSizeHint()).boundedTo(room.size());
  resize(size);
  QRect place(QPoint(), size);
  place.moveCenter(over && over->isVisible() ? over->geometry().center() : room.center());
  place.moveLeft(
      std::clamp(place.left(), room.left(), std::max(room.left(), room.right() + 1 - size.width())));
  place.moveTop(std::clamp(place.top(), room.top(), std::max(room.top(), room.bottom() + 1 - size.height())));
  move(place.topLeft() - QPoint(frame.left(), frame.top()));
}

void THistoryWindow::FitColumns() {
  if (FUsualWidths.empty()) return;
  int others = 0, widest = 0;
  for (int width : FUsualWidths) {
    others += width;
    widest = std::max(widest, width);
  }
  const int room = tvMessages->viewport()->width();
  // Text keeps at least a little more than the widest of the others.
  const double scale = std::min(1.0, double(room) / double(others + widest + 8));
  for (int column = 0; column < THistoryModel::hcCount; ++column)
    if (column != THistoryModel::hcText)
      tvMessages->setColumnWidth(column, std::max(16, int(FUsualWidths[column] * scale)));
}

void THistoryWindow::Refresh() {
  FTyping->stop();
  const std::uint64_t generation = ++FSearch->Generation;
  FShownSome = false;
  TMessageStore* store = Store ? Store() : nullptr;
  if (!store) {
    Found(generation, {}, true, QStringLiteral("No message store"));
    return;
  }
  FSearching = true;
  lblFound->setText(QStringLiteral("Searching..."));
  // The window lives until the thread has ended, so its answers have somewhere to go.
  QMetaObject::invokeMethod(FSearcherContext, [this, search = FSearch, generation, path = store->Path(),
                                               filter = Filter(), before = BeforeFind] {
    const auto answer = [&](std::vector<std::int64_t> ids, bool complete, const QString& failure) {
      QMetaObject::invokeMethod(this, [this, generation, ids = std::move(ids), complete, failure]() mutable {
        Found(generation, std::move(ids), complete, failure);
      });
    };
    if (search->Stale(generation)) return;
    if (before) before(filter);
    try {
      THistoryReader reader(path);
      reader.StopWhen([&] { return search->Stale(generation); });
      if (search->Stale(generation)) return;
      // The screenful the table shows first, then every one.
      std::vector<std::int64_t> ids = reader.FindMessages(filter, THistoryModel::kReadBlock);
      const bool all = ids.size() < static_cast<std::size_t>(THistoryModel::kReadBlock);
      answer(std::move(ids), all, {});
      if (all || search->Stale(generation)) return;
      ids = reader.FindMessages(filter);
      answer(std::move(ids), true, {});
    } catch (const std::exception& e) {
      // A question cut short by a newer one is no failure.
      if (!search->Stale(generation))
        answer({}, true, QStringLiteral("The message store failed: ") + QString::fromUtf8(e.what()));
    }
  });
}

void THistoryWindow::Found(std::uint64_t generation, std::vector<std::int64_t> ids, bool complete,
                           const QString& failure) {
  if (FSearch->Stale(generation)) return;
  TMessageStore* store = Store ? Store() : nullptr;
  const std::size_t count = ids.size();
  if (FShownSome) {
    Model->ExtendMessages(std::move(ids));
  } else {
    Model->SetMessages(store, std::move(ids));
    memDetail->clear();
    FShownSome = true;
  }
  if (!failure.isEmpty())
    lblFound->setText(failure);
  else
    lblFound->setText(complete ? QStringLiteral("%1 found").arg(count)
                               : QStringLiteral("%1 found so far...").arg(count));
  FSearching = !complete;
}

std::vector<std::int64_t> THistoryWindow::SelectedIds() const {
  std::vector<std::int64_t> ids;
  for (const QModelIndex& row : tvMessages->selectionModel()->selectedRows())
    ids.push_back(Model->IdAt(row.row()));
  std::sort(ids.begin(), ids.end());
  return ids;
}

std::int64_t THistoryWindow::SelectedJob() const {
  const QModelIndex current = tvMessages->currentIndex();
  if (!current.isValid()) return 0;
  const TStoredMessage& m = Model->MessageAt(current.row());
  return m.PrintState == psPrinted ? JobNumber(m) : 0;
}

void THistoryWindow::btnReprintSelectedClick() {
  const std::vector<std::int64_t> ids = SelectedIds();
  if (!ids.empty() && ReprintMessages) ReprintMessages(ids);
}

void THistoryWindow::btnReprintJobClick() {
  const std::int64_t job = SelectedJob();
  if (job == 0) throw std::runtime_error("The chosen message was not printed in a job");
  if (ReprintJob) ReprintJob(job);
}

void THistoryWindow::btnCommsLogClick() {
  const TDateTime now = Model->NowUtc();
  TCommsLogDialog dialog(now, OperationalStart ? OperationalStart() : now, this);
  if (dialog.exec() != QDialog::Accepted) return;
  if (WriteCommsLog) WriteCommsLog(dialog.Choice());
}

void THistoryWindow::btnReplyClick() {
  const QModelIndex current = tvMessages->currentIndex();
  if (!current.isValid()) throw std::runtime_error("Choose the message to reply to");
  const TStoredMessage& m = Model->MessageAt(current.row());
  if (Compose) Compose(DisplayText(m.Source));
}

void THistoryWindow::ShowCurrent() {
  const QModelIndex current = tvMessages->currentIndex();
  if (!current.isValid()) {
    memDetail->clear();
    return;
  }
  const TStoredMessage& m = Model->MessageAt(current.row());
  QStringList lines{DisplayText(m.Line1), DisplayText(m.Line2), DisplayText(m.Line3)};
  if (!m.NwsEvent.empty()) lines << NwsShownWords(m, Model->NowUtc());
  if (m.FullTextWanted) lines << QString() << QStringLiteral("Full text:") << DisplayText(m.FullText);
  lines << QString() << DisplayText(m.RawText);
  memDetail->setPlainText(lines.join(u'\n'));
}

void THistoryWindow::RefreshBulletins() {
  if (tabViews->currentIndex() != kBulletinsTab) return;
  const std::vector<TBulletinLine> board = Bulletins ? Bulletins() : std::vector<TBulletinLine>{};
  const QString current =
      tvBulletins->currentItem() ? tvBulletins->currentItem()->data(0, Qt::UserRole).toString() : QString();
  tvBulletins->clear();
  for (const TBulletinLine& l : board) {
    auto* item = new QTreeWidgetItem(QStringList{
        DisplayText(l.From), DisplayText(l.LineId),
        l.Kind == kStoredAnnouncement ? QStringLiteral("Announcement") : QStringLiteral("Bulletin"),
        QString::fromStdString(FormatDateTime("yyyy-mm-dd hh:nn:ss", l.UtcTime)), DisplayText(l.Text)});
    // The line by sender and ID, so the choice outlives a newer copy.
    item->setData(0, Qt::UserRole, item->text(0) + QLatin1Char(' ') + item->text(1));
    // The sender and ID as the store has them, byte for byte.
    item->setData(1, Qt::UserRole, QByteArray::fromStdString(l.From));
    item->setData(2, Qt::UserRole, QByteArray::fromStdString(l.LineId));
    tvBulletins->addTopLevelItem(item);
    if (item->data(0, Qt::UserRole).toString() == current) tvBulletins->setCurrentItem(item);
  }
  btnClearLine->setEnabled(!board.empty());
}

void THistoryWindow::btnClearLineClick() {
  const QTreeWidgetItem* item = tvBulletins->currentItem();
  if (!item || !ClearBulletin) return;
  ClearBulletin(item->data(1, Qt::UserRole).toByteArray().toStdString(),
                item->data(2, Qt::UserRole).toByteArray().toStdString());
  RefreshBulletins();
}

void THistoryWindow::SetBulletinAges(const TBulletinAges& ages) {
  lblBulletinAges->setText(QStringLiteral("Bulletins stay %1 h, announcements %2 days after their last copy")
                               .arg(ages.BulletinHours)
                               .arg(ages.AnnouncementHours / 24));
}

}  // namespace qm
