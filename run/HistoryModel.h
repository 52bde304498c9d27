// The history's rows: a stored message's fields in words (HistoryCell), and the table model the
// history window shows them in. The board makes its rows with the same words.
#pragma once

#include <QAbstractTableModel>
#include <QString>
#include <cstdint>
#include <functional>
#include <unordered_map>
#include <vector>

#include "base/Timing.h"
#include "store/MessageStore.h"

namespace qm {

// The found messages as table rows; a row's fields are read from the store when first shown,
// a block of rows at a time, so a large answer costs only its ids.
class THistoryModel : public QAbstractTableModel {
  Q_OBJECT

 public:
  enum TColumn {
    hcLocal,
    hcUtc,
    hcFrom,
    hcTo,
    hcKind,
    hcState,
    hcText,
    hcWords,
    hcNumber,
    hcPrinted,
    hcAnswered,
    hcCount
  };

  // Rows read from the store at a time: a screenful and then some.
  static constexpr int kReadBlock = 200;

  explicit THistoryModel(QObject* parent = nullptr) : QAbstractTableModel(parent) {}

  // Shows these messages of `store` (null: none), newest first as given.
  void SetMessages(const TMessageStore* store, std::vector<std::int64_t> ids);
  // The same answer grown: rows past those shown are added, the shown ones stay (with the
  // selection). Another answer replaces them.
  void ExtendMessages(std::vector<std::int64_t> ids);
  std::int64_t IdAt(int row) const { return FIds.at(static_cast<std::size_t>(row)); }
  // The stored message of a row (read when not yet read).
  const TStoredMessage& MessageAt(int row) const;
  // The clock an NWS alert's expiry is read against: the desk's.
  std::function<TDateTime()> NowUtc = [] { return CurrentDateTime(tfUTC); };

  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

 private:
  const TMessageStore* FStore = nullptr;
  std::vector<std::int64_t> FIds;
  mutable std::unordered_map<std::int64_t, TStoredMessage> FRead;
};

// A stored message's field in column `column` as the history shows it at `nowUtc`.
QString HistoryCell(const TStoredMessage& m, THistoryModel::TColumn column,
                    TDateTime nowUtc = CurrentDateTime(tfUTC));
// Whether an NWS alert is past its expiry at `nowUtc` (one without an expiry never is).
bool NwsExpired(const TStoredMessage& m, TDateTime nowUtc);
inline bool NwsExpired(double expiresUtc, TDateTime nowUtc) {
  return expiresUtc != 0 && nowUtc >= expiresUtc;
}
// Whether it no longer holds: expired, cancelled or superseded.
inline bool NwsEnded(const TStoredMessage& m, TDateTime nowUtc) {
  return !m.NwsEvent.empty() && (m.NwsState != nsLive || NwsExpired(m, nowUtc));
}
// An NWS alert's words as shown at `nowUtc`: "... until 19:30 UTC" while it holds, "...
// expired 19:30 UTC" past it, "... cancelled" or "... superseded"; empty for other messages.
QString NwsShownWords(const TStoredMessage& m, TDateTime nowUtc);
// The same for an alert's words as kept, its expiry (0: none) and state.
QString NwsShownWords(const std::string& words, double expiresUtc, TNwsState state, TDateTime nowUtc);
// The kind a message was kept as, in words ("NWS warning" ...).
QString HistoryKindText(const TStoredMessage& m);
// Where it stands on its way to paper ("Printed in job 12" ...).
QString HistoryPrintedText(const TStoredMessage& m);

}  // namespace qm
