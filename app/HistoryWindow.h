// The history window: every message the store keeps, newest first, narrowed by callsign,
// kind and free text, with the chosen message's lines and full text below the table; and in
// a view of its own the bulletin board, where the operator clears a line. It
// reads the store only; reprints and the archive folder are the main window's, reached
// through the hooks. The filters are answered on a thread of the window's own, through a
// connection of its own: the newest screenful first, then the rest; a new filter drops the
// answer still coming.
#pragma once

#include <QWidget>
#include <cstdint>
#include <functional>
#include <memory>
#include <unordered_map>
#include <vector>

#include "app/CommsLogDialog.h"
#include "app/GuardedRun.h"
#include "run/HistoryModel.h"
#include "store/MessageStore.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QTabWidget;
class QTableView;
class QTreeWidget;
class QThread;
class QTimer;

namespace qm {

class THistoryWindow : public QWidget {
  Q_OBJECT

 public:
  explicit THistoryWindow(QWidget* parent = nullptr);
  ~THistoryWindow() override;

  // The store to show (null: none); asked again at every Refresh.
  std::function<TMessageStore*()> Store;
  // The chosen messages as a new job, oldest first.
  std::function<void(const std::vector<std::int64_t>&)> ReprintMessages;
  // A past job as it was printed.
  std::function<void(std::int64_t job)> ReprintJob;
  std::function<void()> OpenArchive;
  // "ICS-309 log…": when this operational period began (UTC), and the log of the period chosen
  // written (and printed) by the desk.
  std::function<TDateTime()> OperationalStart;
  std::function<void(const TCommsLogChoice&)> WriteCommsLog;
  // The bulletin board now, and the operator's clearing of one of its lines (sender, line ID).
  std::function<std::vector<TBulletinLine>()> Bulletins;
  std::function<void(const std::string& from, const std::string& lineId)> ClearBulletin;
  // "Reply…" (the current row's sender) and "Send message…" (nobody yet): the compose box.
  std::function<void(const QString& to)> Compose;
  // Runs a button's action; failures are reported there. Runs it plainly when empty.
  TActionGuard Guard;

  // Asks the store again with the filter as it stands; the answer comes later, and an answer
  // still coming to an earlier question is dropped.
  void Refresh();
  // Whether an answer is still coming.
  bool Searching() const { return FSearching; }
  // Runs on the searching thread before each question is asked (tests hold a question there).
  std::function<void(const THistoryFilter&)> BeforeFind;
  THistoryFilter Filter() const;
  // The chosen rows' messages, oldest first.
  std::vector<std::int64_t> SelectedIds() const;
  // The job that printed the current row's message (its list job, else none): 0 when none.
  std::int64_t SelectedJob() const;

  // Reads the board again while its view is the one shown.
  void RefreshBulletins();
  void btnClearLineClick();
  // What the view says of how long lines stay.
  void SetBulletinAges(const TBulletinAges& ages);

  void btnReprintSelectedClick();
  void btnReprintJobClick();
  // Asks for the period in a dialog, then writes the log.
  void btnCommsLogClick();
  void btnReplyClick();

  // Sizes the window to the screen's free area (taskbars and panels left out) and moves it
  // wholly onto it, over the main window where there is room. Done at the first showing;
  // the operator's own size and place count after that.
  void FitToScreen();

  QTabWidget* tabViews = nullptr;  // "Messages", "Bulletins"
  QTreeWidget* tvBulletins = nullptr;
  QPushButton* btnClearLine = nullptr;
  QLabel* lblBulletinAges = nullptr;
  QLineEdit* edFindCall = nullptr;
  QComboBox* cbxFindKind = nullptr;
  QLineEdit* edFindText = nullptr;
  QTableView* tvMessages = nullptr;
  QPlainTextEdit* memDetail = nullptr;
  QLabel* lblFound = nullptr;
  QPushButton* btnReprintSelected = nullptr;
  QPushButton* btnReprintJob = nullptr;
  QPushButton* btnCommsLog = nullptr;
  QPushButton* btnReply = nullptr;
  QPushButton* btnSendNew = nullptr;
  QPushButton* btnOpenArchive = nullptr;
  // Options the main window acts on; here, beside what they concern.
  QCheckBox* cbDropRetries = nullptr;
  QLineEdit* edRetryMinutes = nullptr;
  QCheckBox* cbBroadcastOnce = nullptr;
  QLineEdit* edBroadcastHours = nullptr;
  QCheckBox* cbArchivePdf = nullptr;
  THistoryModel* Model = nullptr;

 private:
  void ShowCurrent();
  void Run(const std::function<void()>& action) { RunGuarded(Guard, action); }

  void showEvent(QShowEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  // The columns beside Text at their usual widths, narrowed together where the table is too
  // narrow to give Text more room than any of them.
  void FitColumns();

  struct TSearch;
  // An answer of question `generation` (an older one's is dropped): the newest ids first,
  // `complete` once they are all there; `failure` when the store failed.
  void Found(std::uint64_t generation, std::vector<std::int64_t> ids, bool complete, const QString& failure);

  QTimer* FTyping = nullptr;
  QThread* FSearcher = nullptr;
  QObject* FSearcherContext = nullptr;  // lives on FSearcher
  std::shared_ptr<TSearch> FSearch;
  bool FSearching = false;
  bool FShownSome = false;        // of the current question
  std::vector<int> FUsualWidths;  // per column; the Text column's is 0
  bool FFitted = false;
};

}  // namespace qm
