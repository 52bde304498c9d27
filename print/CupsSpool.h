#pragma once
// Jobs handed to CUPS through libcups, so that a refused job is an error and a taken one
// has a number to follow. Only where libcups is built in (QM_HAVE_CUPS).

#include "print/PrintJobs.h"

#include <QByteArray>
#include <QString>

#include <utility>
#include <vector>

class QPrinter;

namespace qm {

using TCupsOptions = std::vector<std::pair<QByteArray, QByteArray>>;

// The job options the printer's set-up stands for: paper, copies, sides, orientation,
// colour, and the driver options chosen in the set-up dialog - what Qt's own CUPS engine
// passes.
TCupsOptions CupsJobOptions(const QPrinter& printer);

// Hands the PDF file to queue `printer` (a "name/instance" prints to `name`) and returns
// the spooler's job number. Throws EPrintError (TPrintJobs::RefusedText) when the spooler
// does not answer or does not take the job.
int SubmitToCups(const QString& printer, const QString& pdf, const QString& title,
                 const TCupsOptions& options);

// The state of job ticket.SpoolerJob, asked with bounded waits.
TSpoolAnswer CupsJobState(const TJobTicket& ticket);

}  // namespace qm
