#pragma once
// Jobs handed to CUPS through libcups, so that a refused job is an error and a taken one
// has a number to follow. Only where libcups is built in (QM_HAVE_CUPS).

#include "print/PrintJobs.h"

#include <QByteArray>
#include <QString>
#include <QUuid>

#include <functional>
#include <utility>
#include <vector>

class QPrinter;

namespace qm {

class TCupsJobEnds;

using TCupsOptions = std::vector<std::pair<QByteArray, QByteArray>>;

// The job options the printer's set-up stands for: paper, copies, sides, orientation,
// colour, and the driver options chosen in the set-up dialog - what Qt's own CUPS engine
// passes.
TCupsOptions CupsJobOptions(const QPrinter& printer);

// Hands the PDF file to queue `printer` (a "name/instance" prints to `name`) and returns
// the spooler's job number. The job is made first, `numbered` hears its number, and only
// then the file follows. Throws EPrintError (TPrintJobs::RefusedText) when the spooler
// does not answer or does not take the job; a job whose file the spooler refuses is
// cancelled then, as it is when `numbered` throws (which is passed on). A file sent without
// an answer is not an error: the job is the caller's to follow. `ends` is made to watch
// before the job is made.
int SubmitToCups(const QString& printer, const QString& pdf, const QString& title,
                 const TCupsOptions& options, const QUuid& token, const std::function<void(int)>& numbered,
                 TCupsJobEnds& ends);

// The state of job ticket.SpoolerJob, asked with bounded waits; `ends` tells how a job the
// spooler has forgotten ended.
TSpoolAnswer CupsJobState(const TJobTicket& ticket, TCupsJobEnds& ends);

// How queue `printer` stands, asked with bounded waits.
TPrinterState CupsPrinterState(const QString& printer);

// The job of queue `printer` whose job-uuid is `token`, asked with bounded waits. A job
// without its page is cancelled, unless it is `sending` (its page is on the way).
TFoundJob FindCupsJob(const QString& printer, const QUuid& token, int sending);

}  // namespace qm
