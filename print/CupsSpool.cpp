#include "print/CupsSpool.h"

#include <QFile>
#include <QPageLayout>
#include <QPrintEngine>
#include <QPrinter>
#include <QStringList>

#include <cups/cups.h>

#include <cerrno>
#include <cstring>

namespace qm {

namespace {

// The set-up dialog keeps the driver options it was given under this key of the print
// engine (Qt's own CUPS engine reads it from there too).
constexpr auto CupsOptionsKey = QPrintEngine::PrintEnginePropertyKey(0xfe00);

// The spooler is local: a connection or an answer that takes longer than this is not
// coming. A job the spooler takes is answered within a second; a frozen spooler may still
// take a job it did not answer in time, so that wait is the longer one.
constexpr int SubmitConnectMs = 2000;
constexpr double SubmitIoSeconds = 10.0;
constexpr int StateConnectMs = 500;
constexpr double StateIoSeconds = 0.5;

// Asked by libcups when a wait runs out: never wait again.
int GiveUp(http_t*, void*) {
  return 0;
}

// One connection to the spooler with bounded waits, closed on every path. The shared
// default connection of libcups is not used: it may still point at a spooler that has
// gone since, and it connects without a bound.
class TCupsConnection {
 public:
  TCupsConnection(int connectMs, double ioSeconds) {
    // Made unconnected (a wait of 0), so that the connect's own error can be read.
    FHttp = httpConnect2(cupsServer(), ippPort(), nullptr, AF_UNSPEC, cupsEncryption(), 1, 0, nullptr);
    int cancel = 0;
    if (FHttp && httpReconnect2(FHttp, connectMs, &cancel) == 0) {
      httpSetTimeout(FHttp, ioSeconds, GiveUp, nullptr);
      return;
    }
    FError = NoAnswer(FHttp);
    if (FHttp) httpClose(FHttp);
    FHttp = nullptr;
  }
  ~TCupsConnection() {
    if (FHttp) httpClose(FHttp);
  }
  TCupsConnection(const TCupsConnection&) = delete;
  TCupsConnection& operator=(const TCupsConnection&) = delete;

  http_t* Http() const { return FHttp; }
  const QString& Error() const { return FError; }

  static QString NoAnswer(http_t* http) {
    QString text =
        QStringLiteral("no answer from the print service at %1").arg(QString::fromUtf8(cupsServer()));
    // libcups says "host is down" for nobody listening, which misleads for a local socket.
    const int error = http ? httpError(http) : 0;
    if (error && error != EHOSTDOWN)
      text += QStringLiteral(" (%1)").arg(QString::fromLocal8Bit(std::strerror(error)));
    return text;
  }

 private:
  http_t* FHttp = nullptr;
  QString FError;
};

class TOptionArray {
 public:
  explicit TOptionArray(const TCupsOptions& options) {
    // Added in order: a later value of the same name replaces an earlier one.
    for (const auto& [name, value] : options)
      Count = cupsAddOption(name.constData(), value.constData(), Count, &Options);
  }
  ~TOptionArray() { cupsFreeOptions(Count, Options); }
  TOptionArray(const TOptionArray&) = delete;
  TOptionArray& operator=(const TOptionArray&) = delete;

  int Count = 0;
  cups_option_t* Options = nullptr;
};

// What libcups said about the last request, never empty.
QString LastCupsError() {
  const char* text = cupsLastErrorString();
  if (text && *text) return QString::fromUtf8(text);
  return QString::fromUtf8(ippErrorString(cupsLastError()));
}

[[noreturn]] void Refuse(const QString& reason) {
  throw EPrintError((TPrintJobs::RefusedText + QStringLiteral(": ") + reason).toStdString());
}

QString JobName(const TJobTicket& ticket) {
  return QStringLiteral("job %1 on %2").arg(QString::number(ticket.SpoolerJob), ticket.Printer);
}

// The spooler's own words about a job: its message, else its reasons.
QString JobDetails(ipp_t* response) {
  ipp_attribute_t* message = ippFindAttribute(response, "job-state-message", IPP_TAG_TEXT);
  const char* text = message ? ippGetString(message, 0, nullptr) : nullptr;
  if (text && *text) return QString::fromUtf8(text);
  QStringList reasons;
  ipp_attribute_t* attribute = ippFindAttribute(response, "job-state-reasons", IPP_TAG_KEYWORD);
  for (int i = 0; attribute && i < ippGetCount(attribute); ++i) {
    const QString reason = QString::fromUtf8(ippGetString(attribute, i, nullptr));
    if (reason != QLatin1String("none")) reasons << reason;
  }
  return reasons.join(QStringLiteral(", "));
}

// An IPP message, deleted on every path.
class TIpp {
 public:
  explicit TIpp(ipp_t* message) : FMessage(message) {}
  ~TIpp() { ippDelete(FMessage); }
  TIpp(const TIpp&) = delete;
  TIpp& operator=(const TIpp&) = delete;
  ipp_t* get() const { return FMessage; }

 private:
  ipp_t* FMessage;
};

// One request and its answer. libcups' cupsDoFileRequest sends again when no answer came,
// reconnecting with waits of its own: a frozen spooler then holds the window for minutes.
// Null when no answer came; the reason is then in `failure`.
ipp_t* Exchange(const TCupsConnection& connection, ipp_t* request, const QByteArray& resource,
                const QString& document, QString& failure) {
  http_t* http = connection.Http();
  QFile file(document);
  if (!document.isEmpty() && !file.open(QIODevice::ReadOnly)) {
    failure = QStringLiteral("cannot read the job's file %1").arg(document);
    return nullptr;
  }
  const size_t length = ippLength(request) + (document.isEmpty() ? 0 : size_t(file.size()));
  http_status_t status = cupsSendRequest(http, request, resource.constData(), length);
  if (status == HTTP_STATUS_CONTINUE && ippGetState(request) == IPP_STATE_DATA && !document.isEmpty()) {
    char buffer[32768];
    for (qint64 n; status == HTTP_STATUS_CONTINUE && (n = file.read(buffer, sizeof buffer)) > 0;)
      status = cupsWriteRequestData(http, buffer, size_t(n));
  }
  ipp_t* response = nullptr;
  if (status == HTTP_STATUS_CONTINUE || status == HTTP_STATUS_OK)
    response = cupsGetResponse(http, resource.constData());
  if (!response) failure = httpError(http) ? TCupsConnection::NoAnswer(http) : LastCupsError();
  return response;
}

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
                 const TCupsOptions& options) {
  const TCupsConnection connection(SubmitConnectMs, SubmitIoSeconds);
  if (!connection.Http()) Refuse(connection.Error());

  // One Print-Job request, so that the spooler's own words come back when it refuses (a
  // queue that is missing, or not accepting jobs). An instance ("name/instance") differs
  // only in its options; the queue is the name.
  const QByteArray queue = printer.section(QLatin1Char('/'), 0, 0).toUtf8();
  const QByteArray resource = "/printers/" + queue;
  char uri[HTTP_MAX_URI];
  httpAssembleURI(HTTP_URI_CODING_ALL, uri, sizeof uri, "ipp", nullptr, "localhost", ippPort(),
                  resource.constData());
  const TIpp request(ippNewRequest(IPP_OP_PRINT_JOB));
  ippAddString(request.get(), IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr, uri);
  ippAddString(request.get(), IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr, cupsUser());
  ippAddString(request.get(), IPP_TAG_OPERATION, IPP_TAG_NAME, "job-name", nullptr,
               title.toUtf8().constData());
  ippAddString(request.get(), IPP_TAG_OPERATION, IPP_TAG_MIMETYPE, "document-format", nullptr,
               CUPS_FORMAT_PDF);
  const TOptionArray array(options);
  cupsEncodeOptions2(request.get(), array.Count, array.Options, IPP_TAG_OPERATION);
  cupsEncodeOptions2(request.get(), array.Count, array.Options, IPP_TAG_JOB);

  QString failure;
  const TIpp response(Exchange(connection, request.get(), resource, pdf, failure));
  if (!response.get()) Refuse(failure);
  if (ippGetStatusCode(response.get()) > IPP_STATUS_OK_EVENTS_COMPLETE) Refuse(LastCupsError());
  ipp_attribute_t* job = ippFindAttribute(response.get(), "job-id", IPP_TAG_INTEGER);
  if (!job || ippGetInteger(job, 0) <= 0) Refuse(QStringLiteral("it gave no job number"));
  return ippGetInteger(job, 0);
}

TSpoolAnswer CupsJobState(const TJobTicket& ticket) {
  const TCupsConnection connection(StateConnectMs, StateIoSeconds);
  if (!connection.Http()) return TSpoolAnswer{ssUnreachable, connection.Error()};

  const TIpp request(ippNewRequest(IPP_OP_GET_JOB_ATTRIBUTES));
  char uri[HTTP_MAX_URI];
  httpAssembleURIf(HTTP_URI_CODING_ALL, uri, sizeof uri, "ipp", nullptr, "localhost", ippPort(), "/jobs/%d",
                   ticket.SpoolerJob);
  ippAddString(request.get(), IPP_TAG_OPERATION, IPP_TAG_URI, "job-uri", nullptr, uri);
  ippAddString(request.get(), IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr, cupsUser());
  static const char* const wanted[] = {"job-state", "job-state-message", "job-state-reasons"};
  ippAddStrings(request.get(), IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes", 3, nullptr,
                wanted);
  QString failure;
  const TIpp response(Exchange(connection, request.get(), "/", QString(), failure));
  if (!response.get()) return TSpoolAnswer{ssUnreachable, failure};

  const ipp_status_t status = ippGetStatusCode(response.get());
  if (status == IPP_STATUS_ERROR_NOT_FOUND)
    return TSpoolAnswer{ssFailed,
                        QStringLiteral("the print spooler no longer knows %1").arg(JobName(ticket))};
  ipp_attribute_t* state = ippFindAttribute(response.get(), "job-state", IPP_TAG_ENUM);
  if (status > IPP_STATUS_OK_EVENTS_COMPLETE || !state)
    return TSpoolAnswer{
        ssUnreachable,
        QStringLiteral("the print spooler gave no state for %1 (%2)").arg(JobName(ticket), LastCupsError())};

  const QString details = JobDetails(response.get());
  const QString because = details.isEmpty() ? QString() : QStringLiteral(": ") + details;
  switch (ippGetInteger(state, 0)) {
    case IPP_JSTATE_COMPLETED:
      return TSpoolAnswer{ssCompleted, {}};
    case IPP_JSTATE_CANCELED:
      return TSpoolAnswer{ssFailed, JobName(ticket) + QStringLiteral(" was cancelled") + because};
    case IPP_JSTATE_ABORTED:
      return TSpoolAnswer{ssFailed, JobName(ticket) + QStringLiteral(" was aborted") + because};
    default:  // pending, held, processing, stopped: it may still print
      return TSpoolAnswer{ssPending, details};
  }
}

}  // namespace qm
