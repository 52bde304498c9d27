#pragma once
// The communications log an operator keeps for an operational period (the ICS 309 form): the
// messages in and out with their time, sender, addressee and text, under the station, the
// operator and the period. Saved as CSV and PDF, printed as a job of its own.

#include <QFont>
#include <QString>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/Timing.h"
#include "print/PrintJobs.h"
#include "store/MessageStore.h"

namespace qm {

struct TCommsLog {
  QString Station;                   // the own call
  QString Operator;                  // the account the program runs as
  TDateTime FromUtc = 0, ToUtc = 0;  // from, up to but not including to
  std::vector<TLogRow> Rows;         // oldest first
  int Received() const;
  int Sent() const { return static_cast<int>(Rows.size()) - Received(); }
};

// The period's rows: those the store kept (`received`, in time order) with the outgoing ones
// that fall inside it, oldest first; at the same time a received row goes first.
TCommsLog MakeCommsLog(QString station, QString op, TDateTime fromUtc, TDateTime toUtc,
                       std::vector<TLogRow> received, const std::vector<TLogRow>& outgoing);

// "yyyy-mm-ddThh:mm" in UTC; nothing for any other text or a date that does not exist.
std::optional<TDateTime> ParseLogTime(std::string_view text);
// The reason a period given as text is refused, or "" for a sound one; `from` and `to` are set
// for a sound one. `to` must come after `from`.
QString ReadLogPeriod(std::string_view fromText, std::string_view toText, TDateTime& from, TDateTime& to);

// The periods the operator picks from by name: since the desk started up to now, or the UTC
// day that holds `nowUtc`. A period up to now ends at the next whole minute, so that what came
// this minute is in it.
enum class TLogPeriodKind { lpOperational, lpToday };
using enum TLogPeriodKind;
void NamedLogPeriod(TLogPeriodKind kind, TDateTime nowUtc, TDateTime startedUtc, TDateTime& from,
                    TDateTime& to);

// The account the program runs as, who keeps the log.
QString AccountName();

// The log as CSV (RFC 4180: CR LF after every record, fields with a comma, a quote or a line
// break quoted, quotes doubled), UTF-8, a header record first.
std::string CommsLogCsv(const TCommsLog& log);
// The log as it is printed, a line per row in fixed columns.
QString CommsLogDocument(const TCommsLog& log);
QFont CommsLogFont();

struct TCommsLogFiles {
  QString Pdf, Csv;
};
// Writes the PDF and the CSV into `folder`, named after the period
// ("ics309-20261210-0800-20261210-2000.pdf"). Throws EPrintError naming the file that failed.
TCommsLogFiles SaveCommsLog(const TCommsLog& log, const QString& folder);
// Prints the log as a job of its own on the jobs' current printer, every page framed with the
// station and its number. Throws EPrintError as TPrintJobs::PrintText does.
TJobTicket PrintCommsLog(TPrintJobs& jobs, const TCommsLog& log);

}  // namespace qm
