#include "print/CupsSpool.h"

#include "print/CupsEvents.h"
#include "print/CupsIpp.h"

#include <QPageLayout>
#include <QPrintEngine>
#include <QPrinter>
#include <QStringList>

namespace qm {

namespace {

// The set-up dialog keeps the driver options it was given under this key of the print
// engine (Qt's own CUPS engine reads it from there too).
constexpr auto CupsOptionsKey = QPrintEngine::PrintEnginePropertyKey(0xfe00);

// The spooler is local: a connection or an answer that takes longer than this is not
// coming. A job the spooler takes is answered within a second; a frozen spooler may still
// take a job it did not answer in time, so that wait is the longer one. Looking a job up
// by its token reads every job the queue remembers (up to 500, some from disk).
constexpr int SubmitConnectMs = 2000;
constexpr double SubmitIoSeconds = 10.0;
constexpr int StateConnectMs = 500;
constexpr double StateIoSeconds = 0.5;
constexpr double FindIoSeconds = 3.0;

class TOptionArray {
 public:
  explicit TOptionArray(const TCupsOptions& options) {
    // Added in order: a later value of the same name replaces an earlier one.
    for (const auto& [name, value] : options)
      Count = Cups().cupsAddOption(name.constData(), value.constData(), Count, &Options);
  }
  ~TOptionArray() { Cups().cupsFreeOptions(Count, Options); }
  TOptionArray(const TOptionArray&) = delete;
  TOptionArray& operator=(const TOptionArray&) = delete;

  int Count = 0;
  cups_option_t* Options = nullptr;
};

[[noreturn]] void Refuse(const QString& reason) {
  throw EPrintError((TPrintJobs::RefusedText + QStringLiteral(": ") + reason).toStdString());
}

QString JobName(const TJobTicket& ticket) {
  return QStringLiteral("job %1 on %2").arg(QString::number(ticket.SpoolerJob), ticket.Printer);
}

// An instance ("name/instance") differs only in its options; the queue is the name.
QByteArray QueueResource(const QString& printer) {
  return "/printers/" + printer.section(QLatin1Char('/'), 0, 0).toUtf8();
}

QByteArray JobResource(int job) {
  return "/jobs/" + QByteArray::number(job);
}

QByteArray TokenUri(const QUuid& token) {
  return "urn:uuid:" + token.toByteArray(QUuid::WithoutBraces);
}

// The spooler's own words about a job: its message, else its reasons.
QString JobDetails(const TIppGroup& job) {
  QString message = StringOf(job, "job-state-message");
  if (!message.isEmpty()) return message;
  QStringList reasons = StringsOf(job, "job-state-reasons");
  reasons.removeAll(QStringLiteral("none"));
  return reasons.join(QStringLiteral(", "));
}

// Cancels a job of ours that will never get its page, so that it cannot print later.
void CancelJob(const TCupsConnection& connection, int job) {
  const TIpp request(NewRequest(IPP_OP_CANCEL_JOB, "job-uri", JobResource(job)));
  QString failure;
  // Without an answer the spooler ends the job itself once it has waited long enough
  // for the page (MultipleOperationTimeout).
  const TIpp response(Exchange(connection, request.get(), "/jobs/", QString(), failure));
}

// A job made but never given its page: its number went out, and the program was killed
// before the page followed (or it failed on the way).
bool NeverGotItsPage(const TIppGroup& job) {
  const int state = IntegerOf(job, "job-state");
  return IntegerOf(job, "number-of-documents", -1) == 0 &&
         (state == IPP_JSTATE_PENDING || state == IPP_JSTATE_HELD);
}

// How job `job` (as the spooler describes it) stands; a job without its page is cancelled.
TSpoolAnswer AnswerFor(const TCupsConnection& connection, const TJobTicket& ticket, const TIppGroup& job) {
  if (NeverGotItsPage(job)) {
    CancelJob(connection, ticket.SpoolerJob);
    return TSpoolAnswer{ssFailed, JobName(ticket) + QStringLiteral(" never received its page"), sfNoPage};
  }
  const QString details = JobDetails(job);
  const QString because = details.isEmpty() ? QString() : QStringLiteral(": ") + details;
  switch (IntegerOf(job, "job-state")) {
    case IPP_JSTATE_COMPLETED:
      return TSpoolAnswer{ssCompleted, {}};
    case IPP_JSTATE_CANCELED:
      return TSpoolAnswer{ssFailed, JobName(ticket) + QStringLiteral(" was cancelled") + because,
                          sfCancelled};
    case IPP_JSTATE_ABORTED:
      return TSpoolAnswer{ssFailed, JobName(ticket) + QStringLiteral(" was aborted") + because, sfAborted};
    default:  // pending, held, processing, stopped: it may still print
      return TSpoolAnswer{ssPending, details};
  }
}

// A job the spooler no longer knows (no job history, a purge, a lost spool folder) ended as
// its events say. Without a word on it, it counts as failed: a page printed again is
// better than a page lost.
TSpoolAnswer ForgottenJob(const TCupsConnection& connection, const TJobTicket& ticket, TCupsJobEnds& ends) {
  switch (ends.EndOf(connection, ticket.SpoolerJob)) {
    case IPP_JSTATE_COMPLETED:
      return TSpoolAnswer{
          ssCompleted,
          JobName(ticket) + QStringLiteral(" completed; the print spooler has forgotten it since")};
    case IPP_JSTATE_CANCELED:
      return TSpoolAnswer{ssFailed, JobName(ticket) + QStringLiteral(" was cancelled and removed"),
                          sfCancelled};
    case IPP_JSTATE_ABORTED:
      return TSpoolAnswer{ssFailed, JobName(ticket) + QStringLiteral(" was aborted and removed"), sfAborted};
    default:
      return TSpoolAnswer{
          ssFailed,
          QStringLiteral("the print spooler forgot %1 without a word on how it ended").arg(JobName(ticket)),
          sfForgotten};
  }
}

// What a job answer needs to be told.
const char* const JobAttributes[] = {
    "job-id", "job-uuid", "job-state", "job-state-message", "job-state-reasons", "number-of-documents"};
constexpr int JobAttributeCount = int(sizeof JobAttributes / sizeof *JobAttributes);

}  // namespace

TCupsOptions CupsJobOptions(const QPrinter& printer) {
  TCupsOptions options;
  const QPageLayout layout = printer.pageLayout();
  options.emplace_back("media", layout.pageSize().key().toUtf8());
  if (printer.copyCount() > 1) {
    options.emplace_back("copies", QByteArray::number(printer.copyCount()));
    if (printer.collateCopies()) options.emplace_back("Collate", "True");
  }
  const bool portrait = layout.orientation() == QPageLayout::Portrait;
  switch (printer.duplex()) {
    case QPrinter::DuplexNone:
      options.emplace_back("sides", "one-sided");
      break;
    case QPrinter::DuplexAuto:
      options.emplace_back("sides", portrait ? "two-sided-long-edge" : "two-sided-short-edge");
      break;
    case QPrinter::DuplexLongSide:
      options.emplace_back("sides", "two-sided-long-edge");
      break;
    case QPrinter::DuplexShortSide:
      options.emplace_back("sides", "two-sided-short-edge");
      break;
  }
  if (!portrait) options.emplace_back("landscape", "");
  if (printer.colorMode() == QPrinter::GrayScale) options.emplace_back("print-color-mode", "monochrome");
  const QStringList chosen = printer.printEngine()->property(CupsOptionsKey).toStringList();
  for (qsizetype i = 0; i + 1 < chosen.size(); i += 2)
    options.emplace_back(chosen[i].toUtf8(), chosen[i + 1].toUtf8());
  return options;
}

int SubmitToCups(const QString& printer, const QString& pdf, const QString& title,
                 const TCupsOptions& options, const QUuid& token, const std::function<void(int)>& numbered,
                 TCupsJobEnds& ends) {
  const TCupsConnection connection(SubmitConnectMs, SubmitIoSeconds);
  if (!connection.Http()) Refuse(connection.Error());
  // Heard before the job exists, so that its end is heard even if the spooler forgets it.
  QString failure;
  if (ends.Watch(connection) == TCupsJobEnds::wNoAnswer) Refuse(TCupsConnection::NoAnswer(connection.Http()));

  // The job first, its page second: the number is out (and kept by the caller) before
  // anything can print, so no kill leaves a printed page without a number to ask about.
  // A queue that is missing or not accepting jobs refuses here, in the spooler's words.
  const QByteArray resource = QueueResource(printer);
  const TIpp create(NewRequest(IPP_OP_CREATE_JOB, "printer-uri", resource));
  Cups().ippAddString(create.get(), IPP_TAG_OPERATION, IPP_TAG_NAME, "job-name", nullptr,
                      title.toUtf8().constData());
  const TOptionArray array(options);
  Cups().cupsEncodeOptions2(create.get(), array.Count, array.Options, IPP_TAG_OPERATION);
  Cups().cupsEncodeOptions2(create.get(), array.Count, array.Options, IPP_TAG_JOB);
  // The spooler keeps a job-uuid it is given with the job, also once the job has completed;
  // the operator never sees it, and the title stays as it was.
  if (!token.isNull())
    Cups().ippAddString(create.get(), IPP_TAG_JOB, IPP_TAG_URI, "job-uuid", nullptr,
                        TokenUri(token).constData());

  const TIpp created(Exchange(connection, create.get(), resource, QString(), failure));
  if (!created.get()) Refuse(failure);
  if (!Succeeded(created.get())) Refuse(LastCupsError());
  ipp_attribute_t* id = Cups().ippFindAttribute(created.get(), "job-id", IPP_TAG_INTEGER);
  if (!id || Cups().ippGetInteger(id, 0) <= 0) Refuse(QStringLiteral("it gave no job number"));
  const int job = Cups().ippGetInteger(id, 0);

  try {
    if (numbered) numbered(job);
  } catch (...) {
    CancelJob(connection, job);
    throw;
  }

  const TIpp send(NewRequest(IPP_OP_SEND_DOCUMENT, "printer-uri", resource));
  Cups().ippAddInteger(send.get(), IPP_TAG_OPERATION, IPP_TAG_INTEGER, "job-id", job);
  Cups().ippAddString(send.get(), IPP_TAG_OPERATION, IPP_TAG_MIMETYPE, "document-format", nullptr,
                      CUPS_FORMAT_PDF);
  Cups().ippAddBoolean(send.get(), IPP_TAG_OPERATION, "last-document", 1);
  const TIpp sent(Exchange(connection, send.get(), resource, pdf, failure));
  // No answer: the spooler may have the page all the same (frozen while it took it). The
  // number is out, and the job is followed like any other: it prints, or JobState finds
  // it without its page and it counts as failed. Refused outright, it never prints.
  if (sent.get() && !Succeeded(sent.get())) {
    const QString reason = LastCupsError();
    CancelJob(connection, job);
    Refuse(reason);
  }
  return job;
}

TSpoolAnswer CupsJobState(const TJobTicket& ticket, TCupsJobEnds& ends) {
  const TCupsConnection connection(StateConnectMs, StateIoSeconds);
  if (!connection.Http()) return TSpoolAnswer{ssUnreachable, connection.Error()};

  const TIpp request(NewRequest(IPP_OP_GET_JOB_ATTRIBUTES, "job-uri", JobResource(ticket.SpoolerJob)));
  Cups().ippAddStrings(request.get(), IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes",
                       JobAttributeCount, nullptr, JobAttributes);
  QString failure;
  const TIpp response(Exchange(connection, request.get(), "/", QString(), failure));
  if (!response.get()) return TSpoolAnswer{ssUnreachable, failure};

  if (Cups().ippGetStatusCode(response.get()) == IPP_STATUS_ERROR_NOT_FOUND)
    return ForgottenJob(connection, ticket, ends);
  const std::vector<TIppGroup> jobs = Groups(response.get(), IPP_TAG_JOB);
  if (!Succeeded(response.get()) || jobs.empty() || !Find(jobs.front(), "job-state"))
    return TSpoolAnswer{
        ssUnreachable,
        QStringLiteral("the print spooler gave no state for %1 (%2)").arg(JobName(ticket), LastCupsError())};
  return AnswerFor(connection, ticket, jobs.front());
}

TFoundJob FindCupsJob(const QString& printer, const QUuid& token, int sending) {
  const TCupsConnection connection(StateConnectMs, FindIoSeconds);
  if (!connection.Http()) return TFoundJob{fsUnreachable, {}, {}, connection.Error()};

  const QByteArray resource = QueueResource(printer);
  const TIpp request(NewRequest(IPP_OP_GET_JOBS, "printer-uri", resource));
  Cups().ippAddString(request.get(), IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "which-jobs", nullptr, "all");
  Cups().ippAddStrings(request.get(), IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes",
                       JobAttributeCount, nullptr, JobAttributes);
  QString failure;
  const TIpp response(Exchange(connection, request.get(), resource, QString(), failure));
  if (!response.get()) return TFoundJob{fsUnreachable, {}, {}, failure};
  // A queue removed since took its jobs with it: printed or not, nobody can say.
  if (Cups().ippGetStatusCode(response.get()) == IPP_STATUS_ERROR_NOT_FOUND)
    return TFoundJob{fsCannotTell, {}, {}, QStringLiteral("there is no print queue %1").arg(printer)};
  if (!Succeeded(response.get()))
    return TFoundJob{
        fsUnreachable,
        {},
        {},
        QStringLiteral("the print spooler did not list the jobs of %1 (%2)").arg(printer, LastCupsError())};

  const QString uri = QString::fromLatin1(TokenUri(token));
  for (const TIppGroup& job : Groups(response.get(), IPP_TAG_JOB)) {
    if (StringOf(job, "job-uuid").compare(uri, Qt::CaseInsensitive) != 0) continue;
    TFoundJob found{fsFound, TJobTicket{printer, IntegerOf(job, "job-id"), token}, {}, {}};
    if (found.Ticket.SpoolerJob != sending) found.Answer = AnswerFor(connection, found.Ticket, job);
    return found;
  }
  return TFoundJob{fsNotFound, {}, {}, {}};
}

}  // namespace qm

namespace qm {

namespace {

// cupsd's own words for a queue paused or rejecting without a reason given: the state
// says as much already.
bool SaysOnlyTheState(const QString& message) {
  return message.isEmpty() || message.compare(QLatin1String("Paused"), Qt::CaseInsensitive) == 0 ||
         message.compare(QLatin1String("Rejecting Jobs"), Qt::CaseInsensitive) == 0;
}

// The operator's lines for what the queue's state holds back.
QStringList Problems(const QString& printer, const TPrinterState& state, const QStringList& reasons) {
  QStringList lines;
  const QString name = QStringLiteral("The printer %1 ").arg(printer);
  // One message for the queue: it goes with the first problem it may explain.
  QString words = SaysOnlyTheState(state.Message) ? QString() : QStringLiteral(": ") + state.Message;
  if (state.Paused) {
    lines << name + QStringLiteral("is paused") + words;
    words.clear();
  } else if (state.Stopped) {
    if (words.isEmpty() && !reasons.isEmpty())
      words = QStringLiteral(": ") + reasons.join(QStringLiteral(", "));
    lines << name + QStringLiteral("has stopped") + words;
    words.clear();
  }
  if (state.Rejecting) lines << name + QStringLiteral("is not accepting jobs") + words;
  if (state.HeldJobs > 0)
    lines << name + QStringLiteral("is holding %1 %2")
                        .arg(state.HeldJobs)
                        .arg(state.HeldJobs == 1 ? "job" : "jobs");
  return lines;
}

}  // namespace

TPrinterState CupsPrinterState(const QString& printer) {
  TPrinterState state;
  state.CanTell = true;
  const QString cannotAsk = QStringLiteral("The printer %1 cannot be asked: ").arg(printer);
  const TCupsConnection connection(StateConnectMs, StateIoSeconds);
  if (!connection.Http()) {
    state.Problems << cannotAsk + connection.Error();
    return state;
  }

  const QByteArray resource = QueueResource(printer);
  const TIpp request(NewRequest(IPP_OP_GET_PRINTER_ATTRIBUTES, "printer-uri", resource));
  static const char* const wanted[] = {"printer-state", "printer-state-reasons", "printer-state-message",
                                       "printer-is-accepting-jobs"};
  Cups().ippAddStrings(request.get(), IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes", 4, nullptr,
                       wanted);
  QString failure;
  const TIpp response(Exchange(connection, request.get(), resource, QString(), failure));
  if (!response.get()) {
    state.Problems << cannotAsk + failure;
    return state;
  }
  state.Reachable = true;
  if (Cups().ippGetStatusCode(response.get()) == IPP_STATUS_ERROR_NOT_FOUND) {
    state.Missing = true;
    state.Problems << QStringLiteral("The printer %1 no longer exists at the print spooler").arg(printer);
    return state;
  }
  const std::vector<TIppGroup> printers = Groups(response.get(), IPP_TAG_PRINTER);
  if (!Succeeded(response.get()) || printers.empty()) {
    state.Reachable = false;
    state.Problems << cannotAsk + LastCupsError();
    return state;
  }
  const TIppGroup& queue = printers.front();
  QStringList reasons = StringsOf(queue, "printer-state-reasons");
  reasons.removeAll(QStringLiteral("none"));
  state.Stopped = IntegerOf(queue, "printer-state") == IPP_PSTATE_STOPPED;
  state.Paused = state.Stopped && reasons.contains(QStringLiteral("paused"));
  ipp_attribute_t* accepting = Find(queue, "printer-is-accepting-jobs");
  state.Rejecting = accepting && !Cups().ippGetBoolean(accepting, 0);
  state.Message = StringOf(queue, "printer-state-message");

  // Held jobs of this user; one still being handed over (job-incoming) is not held back.
  const TIpp jobsRequest(NewRequest(IPP_OP_GET_JOBS, "printer-uri", resource));
  Cups().ippAddString(jobsRequest.get(), IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "which-jobs", nullptr,
                      "not-completed");
  Cups().ippAddBoolean(jobsRequest.get(), IPP_TAG_OPERATION, "my-jobs", 1);
  static const char* const jobWanted[] = {"job-id", "job-state", "job-state-reasons"};
  Cups().ippAddStrings(jobsRequest.get(), IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes", 3,
                       nullptr, jobWanted);
  const TIpp jobs(Exchange(connection, jobsRequest.get(), resource, QString(), failure));
  if (jobs.get() && Succeeded(jobs.get())) {
    for (const TIppGroup& job : Groups(jobs.get(), IPP_TAG_JOB))
      if (IntegerOf(job, "job-state") == IPP_JSTATE_HELD &&
          !StringsOf(job, "job-state-reasons").contains(QStringLiteral("job-incoming")))
        ++state.HeldJobs;
  }
  state.Problems = Problems(printer, state, reasons);
  return state;
}

}  // namespace qm
