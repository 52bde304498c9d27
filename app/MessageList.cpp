#include "app/MessageList.h"

#include <QAction>
#include <QClipboard>
#include <QGuiApplication>
#include <QScrollBar>
#include <QStyledItemDelegate>
#include <algorithm>

#include "desk/MessageDesk.h"
#include "run/HistoryModel.h"

namespace qm {

// --- The model ------------------------------------------------------------------------

TMessageListModel::TMessageListModel(QObject* parent) : QAbstractListModel(parent) {}

void TMessageListModel::SetDesk(const TMessageDesk* desk) {
  disconnect(FDeskGone);
  beginResetModel();
  FDesk = desk;
  FRows = DeskRows();
  endResetModel();
  // The window's list outlives the desk by a moment; nothing may read a desk that is gone.
  if (desk) FDeskGone = connect(desk, &QObject::destroyed, this, [this] { SetDesk(nullptr); });
}

int TMessageListModel::DeskRows() const {
  return FDesk ? static_cast<int>(FDesk->Listed().size()) * 3 : 0;
}

void TMessageListModel::EntryAdded() {
  const int rows = DeskRows();
  if (rows < FRows) return Reshow();  // entries left without a word: everything again
  if (rows == FRows) return;
  beginInsertRows(QModelIndex(), FRows, rows - 1);
  FRows = rows;
  endInsertRows();
}

void TMessageListModel::Reshow() {
  beginResetModel();
  FRows = DeskRows();
  endResetModel();
}

int TMessageListModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : FRows;
}

int TMessageListModel::LineLength(int row) const {
  const auto entry = static_cast<std::size_t>(row / 3);
  if (!FDesk || row < 0 || entry >= FDesk->Listed().size()) return 0;
  return static_cast<int>(FDesk->Listed()[entry].Lines[row % 3].size());
}

QVariant TMessageListModel::data(const QModelIndex& index, int role) const {
  if ((role != Qt::DisplayRole && role != Qt::ToolTipRole) || !FDesk || !index.isValid()) return {};
  const std::vector<TListedEntry>& listed = FDesk->Listed();
  const auto entry = static_cast<std::size_t>(index.row() / 3);
  if (entry >= listed.size()) return {};  // entries just left: the reset is on its way
  const TListedEntry& e = listed[entry];
  if (role == Qt::DisplayRole) return ListLineText(e.Lines[index.row() % 3]);
  // An NWS alert's coded line with its plain words beneath, on each of its lines.
  if (e.NwsWords.empty()) return {};
  return ListLineText(e.Lines[2]).trimmed() + u'\n' +
         NwsShownWords(e.NwsWords, e.NwsExpiresUtc, nsLive, FDesk->Now(tfUTC));
}

// --- The view -------------------------------------------------------------------------

// Every row gets the size of the widest line (the view lays out rows of one size only), so
// the horizontal scroll bar reaches the end of each line.
class TWidestLineDelegate : public QStyledItemDelegate {
 public:
  using QStyledItemDelegate::QStyledItemDelegate;
  QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override {
    // The view asks at every layout (each entry added); the answer changes only with the
    // widest line, which Widest is told of, or with the font.
    if (!FHint.isValid() || FHintFont != option.font) {
      FHint = QStyledItemDelegate::sizeHint(option, index.siblingAtRow(FWidestRow));
      FHintFont = option.font;
    }
    return FHint;
  }
  void Widest(int row) {
    FWidestRow = row;
    FHint = QSize();
  }

 private:
  int FWidestRow = 0;
  mutable QSize FHint;
  mutable QFont FHintFont;
};

TMessageList::TMessageList(QWidget* parent)
    : QListView(parent), FModel(new TMessageListModel(this)), FDelegate(new TWidestLineDelegate(this)) {
  setModel(FModel);
  setItemDelegate(FDelegate);
  setUniformItemSizes(true);
  setEditTriggers(QAbstractItemView::NoEditTriggers);
  setSelectionMode(QAbstractItemView::ExtendedSelection);
  setTextElideMode(Qt::ElideNone);
  // By item, the view would go through every row to find a page's worth of them.
  setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
  setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);

  QScrollBar* bar = verticalScrollBar();
  connect(bar, &QScrollBar::valueChanged, this,
          [this, bar](int value) { FFollow = value == bar->maximum(); });
  connect(bar, &QScrollBar::rangeChanged, this, [this, bar](int, int maximum) {
    if (FFollow) bar->setValue(maximum);
  });

  setContextMenuPolicy(Qt::ActionsContextMenu);
  // Ahead of the view's own Ctrl+C, which copies the current line only.
  auto* copy = new QAction(QStringLiteral("&Copy"), this);
  copy->setShortcut(QKeySequence::Copy);
  copy->setShortcutContext(Qt::WidgetShortcut);
  connect(copy, &QAction::triggered, this, [this] { CopySelection(); });
  addAction(copy);
  auto* all = new QAction(QStringLiteral("Select &All"), this);
  all->setShortcut(QKeySequence::SelectAll);
  all->setShortcutContext(Qt::WidgetShortcut);
  connect(all, &QAction::triggered, this, &QAbstractItemView::selectAll);
  addAction(all);
}

QStringList TMessageList::Lines() const {
  QStringList lines;
  for (int row = 0; row < FModel->rowCount(); ++row) lines << FModel->index(row).data().toString();
  return lines;
}

void TMessageList::CopySelection() const {
  QModelIndexList picked = selectionModel()->selectedIndexes();
  if (picked.isEmpty()) return;
  std::sort(picked.begin(), picked.end(),
            [](const QModelIndex& a, const QModelIndex& b) { return a.row() < b.row(); });
  QStringList lines;
  for (const QModelIndex& index : picked) lines << index.data().toString();
  QGuiApplication::clipboard()->setText(lines.join(u'\n'));
}

void TMessageList::Measure(int first, int last) {
  // The list's font is of fixed pitch, so the longest line is the widest: only it is laid
  // out (a list restored at the start may hold a hundred thousand lines).
  int longest = -1;
  int length = -1;
  for (int row = first; row <= last; ++row) {
    if (const int l = FModel->LineLength(row); l > length) {
      length = l;
      longest = row;
    }
  }
  if (longest < 0) return;
  const int width = fontMetrics().horizontalAdvance(FModel->index(longest).data().toString());
  if (width > FWidest) {
    FWidest = width;
    FDelegate->Widest(longest);
  }
}

void TMessageList::rowsInserted(const QModelIndex& parent, int start, int end) {
  Measure(start, end);
  QListView::rowsInserted(parent, start, end);
}

void TMessageList::reset() {
  FWidest = -1;
  FDelegate->Widest(0);
  Measure(0, FModel->rowCount() - 1);
  QListView::reset();
}

}  // namespace qm
