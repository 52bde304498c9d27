// The window's list of unprinted entries, three lines each: a view over the desk's listed
// entries. It keeps no copy of their text and no text layout; its rows all share one size, so
// the view's own layout is two integers a line.
#pragma once

#include <QAbstractListModel>
#include <QListView>
#include <QStringList>

namespace qm {

class TMessageDesk;
class TWidestLineDelegate;

// One row per shown line, read from the desk's entries when asked.
class TMessageListModel : public QAbstractListModel {
  Q_OBJECT

 public:
  explicit TMessageListModel(QObject* parent = nullptr);

  // The desk shown (none: an empty list); the list follows it until told otherwise.
  void SetDesk(const TMessageDesk* desk);
  // The desk's newest entry was added to its end.
  void EntryAdded();
  // Entries left the list: everything is shown again.
  void Reshow();

  // A line's length in the desk's own bytes, without making its text.
  int LineLength(int row) const;

  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;

 private:
  int DeskRows() const;

  const TMessageDesk* FDesk = nullptr;
  QMetaObject::Connection FDeskGone;
  // The rows as this model last told its views: the desk is ahead of it until it is told.
  int FRows = 0;
};

class TMessageList : public QListView {
  Q_OBJECT

 public:
  explicit TMessageList(QWidget* parent = nullptr);

  TMessageListModel& Model() { return *FModel; }
  // Every shown line, top to bottom.
  QStringList Lines() const;
  // The selected lines, top to bottom, to the clipboard.
  void CopySelection() const;
  void reset() override;

 protected:
  void rowsInserted(const QModelIndex& parent, int start, int end) override;

 private:
  void Measure(int first, int last);

  TMessageListModel* FModel;
  TWidestLineDelegate* FDelegate;
  int FWidest = -1;  // the widest line's width in pixels
  // The newest line is in sight: new ones scroll into it, as in a log that is being read.
  bool FFollow = true;
};

}  // namespace qm
