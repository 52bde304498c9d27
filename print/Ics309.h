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
#include "print/LogPeriod.h"
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
