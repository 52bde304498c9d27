#include "run/HistoryModel.h"

#include <QBrush>
#include <QPalette>
#include <algorithm>
#include <utility>

#include "base/AsciiText.h"
#include "base/ProgramText.h"
#include "base/Timing.h"
#include "parse/NwsWords.h"
#include "select/Selection.h"

namespace qm {
namespace {

QString TimeText(double value) {
  return QString::fromStdString(FormatDateTime("yyyy-mm-dd hh:nn:ss", value));
}

// A stored text on one line of a table cell.
QString CellText(const std::string& text) {
  QString shown = DisplayText(text);
  for (QChar& c : shown)
    if (c.unicode() < 0x20) c = u' ';
  return shown.trimmed();
}

}  // namespace

QString HistoryKindText(const TStoredMessage& m) {
  switch (m.Kind) {
    case kStoredPersonal:
      return QStringLiteral("Personal");
    case kStoredBulletin:
      return QStringLiteral("Bulletin");
    case kStoredAnnouncement:
      return QStringLiteral("Announcement");
    case kStoredNwsAlert: {
      const std::string to = Trim(m.Addressee);
      for (const auto& [category, text] :
           {std::pair{ncWatch, "NWS watch"}, std::pair{ncWarning, "NWS warning"},
            std::pair{ncAdvisory, "NWS advisory"}})
        if (to == NwsCategoryAddressee(category)) return QString::fromLatin1(text);
      return QStringLiteral("NWS");
    }
    default:
      return QString();
  }
}

QString HistoryPrintedText(const TStoredMessage& m) {
  switch (m.PrintState) {
    case psUnprinted:
      return QStringLiteral("Listed");
    // The job as the spooler, the log and the PDF archive number it; a page written to a
    // file has no number.
    case psInJob:
      return m.SpoolerJob > 0 ? QStringLiteral("Printing in job %1").arg(m.SpoolerJob)
                              : QStringLiteral("Printing");
    case psPrinted:
      return m.SpoolerJob > 0 ? QStringLiteral("Printed in job %1").arg(m.SpoolerJob)
                              : QStringLiteral("Printed");
    case psCleared:
      return QStringLiteral("Cleared unprinted");
  }
  return QString();
}

bool NwsExpired(const TStoredMessage& m, TDateTime nowUtc) {
  return !m.NwsEvent.empty() && NwsExpired(m.NwsExpiresUtc, nowUtc);
}

QString NwsShownWords(const TStoredMessage& m, TDateTime nowUtc) {
  if (m.NwsEvent.empty()) return QString();
  return NwsShownWords(m.NwsWords, m.NwsExpiresUtc, m.NwsState, nowUtc);
}

QString NwsShownWords(const std::string& kept, double expiresUtc, TNwsState state, TDateTime nowUtc) {
  // The words end with the expiry as "until"; what became of the alert takes its place.
  std::string words = kept;
  const std::string expiry = expiresUtc != 0 ? FormatDateTime("hh:nn", expiresUtc) + " UTC" : "";
  const std::string until = std::string(kNwsWordsDash) + "until " + expiry;
  if (!expiry.empty() && std::string_view(words).ends_with(until)) words.resize(words.size() - until.size());
  std::string end;
  if (state == nsCancelled)
    end = "cancelled";
  else if (state == nsSuperseded)
    end = "superseded";
  else if (!expiry.empty())
    end = (NwsExpired(expiresUtc, nowUtc) ? "expired " : "until ") + expiry;
  if (!end.empty()) words += std::string(kNwsWordsDash) + end;
  return CellText(words);
}

QString HistoryCell(const TStoredMessage& m, THistoryModel::TColumn column, TDateTime nowUtc) {
  switch (column) {
    case THistoryModel::hcLocal:
      return TimeText(m.LocalTime);
    case THistoryModel::hcUtc:
      return TimeText(m.UtcTime);
    case THistoryModel::hcFrom:
      return CellText(m.Source);
    case THistoryModel::hcTo:
      return CellText(m.Addressee);
    case THistoryModel::hcKind:
      return HistoryKindText(m);
    case THistoryModel::hcState:
      return CellText(m.State);
    case THistoryModel::hcText:
      return CellText(m.MessageText);
    case THistoryModel::hcWords:
      return NwsShownWords(m, nowUtc);
    case THistoryModel::hcNumber:
      return CellText(m.MessageId);
    case THistoryModel::hcPrinted:
      return HistoryPrintedText(m);
    case THistoryModel::hcAnswered:
      return m.Answered.empty() ? QString() : "Answered " + CellText(m.Answered);
    case THistoryModel::hcCount:
      break;
  }
  return QString();
}

void THistoryModel::SetMessages(const TMessageStore* store, std::vector<std::int64_t> ids) {
  beginResetModel();
  FStore = store;
  FIds = std::move(ids);
  FRead.clear();
  endResetModel();
}

void THistoryModel::ExtendMessages(std::vector<std::int64_t> ids) {
  // Messages kept in between come before the ones shown: then the rows are no longer the same.
  if (ids.size() < FIds.size() || !std::equal(FIds.begin(), FIds.end(), ids.begin())) {
    SetMessages(FStore, std::move(ids));
    return;
  }
  if (ids.size() == FIds.size()) return;
  beginInsertRows({}, rowCount(), static_cast<int>(ids.size()) - 1);
  FIds = std::move(ids);
  endInsertRows();
}

const TStoredMessage& THistoryModel::MessageAt(int row) const {
  const std::int64_t id = IdAt(row);
  if (auto it = FRead.find(id); it != FRead.end()) return it->second;
  if (FRead.size() > 50 * kReadBlock) FRead.clear();  // a long scroll keeps no more than this
  const int first = row - row % kReadBlock;
  const int last = std::min(first + kReadBlock, rowCount());
  std::vector<std::int64_t> block(FIds.begin() + first, FIds.begin() + last);
  if (FStore)
    for (TStoredMessage& m : FStore->Messages(block)) FRead.emplace(m.Id, std::move(m));
  // A message purged since the answer shows empty rather than failing.
  return FRead.try_emplace(id).first->second;
}

int THistoryModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(FIds.size());
}

int THistoryModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : hcCount;
}

QVariant THistoryModel::data(const QModelIndex& index, int role) const {
  if ((role != Qt::DisplayRole && role != Qt::ForegroundRole) || !index.isValid()) return {};
  const TStoredMessage& m = MessageAt(index.row());
  if (m.Id == 0) return {};
  // An alert that no longer holds is greyed, its whole row.
  if (role == Qt::ForegroundRole)
    return NwsEnded(m, NowUtc()) ? QVariant(QBrush(QPalette().color(QPalette::Disabled, QPalette::Text)))
                                 : QVariant();
  return HistoryCell(m, static_cast<TColumn>(index.column()), NowUtc());
}

QVariant THistoryModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (role != Qt::DisplayRole) return {};
  if (orientation == Qt::Vertical) return section + 1;
  static const char* const kHeaders[hcCount] = {"Local", "UTC",       "From", "To",      "Kind",    "State",
                                                "Text",  "NWS alert", "No.",  "Printed", "Answered"};
  return section >= 0 && section < hcCount ? QString::fromLatin1(kHeaders[section]) : QVariant();
}

}  // namespace qm
