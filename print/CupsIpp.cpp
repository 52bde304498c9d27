#include "print/CupsIpp.h"

#include <QFile>

#include <cerrno>
#include <cstring>

namespace qm {

namespace {

// Asked by libcups when a wait runs out: never wait again.
int GiveUp(http_t*, void*) {
  return 0;
}

}  // namespace

TCupsConnection::TCupsConnection(int connectMs, double ioSeconds) {
  if (!Cups().Error.isEmpty()) {
    FError = Cups().Error;
    return;
  }
  // Made unconnected (a wait of 0), so that the connect's own error can be read.
  FHttp = Cups().httpConnect2(Cups().cupsServer(), Cups().ippPort(), nullptr, AF_UNSPEC,
                              Cups().cupsEncryption(), 1, 0, nullptr);
  int cancel = 0;
  if (FHttp && Cups().httpReconnect2(FHttp, connectMs, &cancel) == 0) {
    Cups().httpSetTimeout(FHttp, ioSeconds, GiveUp, nullptr);
    return;
  }
  FError = NoAnswer(FHttp);
  if (FHttp) Cups().httpClose(FHttp);
  FHttp = nullptr;
}

TCupsConnection::~TCupsConnection() {
  if (FHttp) Cups().httpClose(FHttp);
}

QString TCupsConnection::NoAnswer(http_t* http) {
  QString text =
      QStringLiteral("no answer from the print service at %1").arg(QString::fromUtf8(Cups().cupsServer()));
  // libcups says "host is down" for nobody listening, which misleads for a local socket.
  const int error = http ? Cups().httpError(http) : 0;
  if (error && error != EHOSTDOWN)
    text += QStringLiteral(" (%1)").arg(QString::fromLocal8Bit(std::strerror(error)));
  return text;
}

QString LastCupsError() {
  const char* text = Cups().cupsLastErrorString();
  if (text && *text) return QString::fromUtf8(text);
  return QString::fromUtf8(Cups().ippErrorString(Cups().cupsLastError()));
}

QByteArray LocalUri(const QByteArray& resource) {
  char uri[HTTP_MAX_URI];
  Cups().httpAssembleURI(HTTP_URI_CODING_ALL, uri, sizeof uri, "ipp", nullptr, "localhost", Cups().ippPort(),
                         resource.constData());
  return QByteArray(uri);
}

ipp_t* NewRequest(ipp_op_t operation, const char* uriName, const QByteArray& resource) {
  ipp_t* request = Cups().ippNewRequest(operation);
  Cups().ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, uriName, nullptr,
                      LocalUri(resource).constData());
  Cups().ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr,
                      Cups().cupsUser());
  return request;
}

ipp_t* Exchange(const TCupsConnection& connection, ipp_t* request, const QByteArray& resource,
                const QString& document, QString& failure) {
  http_t* http = connection.Http();
  QFile file(document);
  if (!document.isEmpty() && !file.open(QIODevice::ReadOnly)) {
    failure = QStringLiteral("cannot read the job's file %1").arg(document);
    return nullptr;
  }
  const size_t length = Cups().ippLength(request) + (document.isEmpty() ? 0 : size_t(file.size()));
  http_status_t status = Cups().cupsSendRequest(http, request, resource.constData(), length);
  if (status == HTTP_STATUS_CONTINUE && Cups().ippGetState(request) == IPP_STATE_DATA &&
      !document.isEmpty()) {
    char buffer[32768];
    for (qint64 n; status == HTTP_STATUS_CONTINUE && (n = file.read(buffer, sizeof buffer)) > 0;)
      status = Cups().cupsWriteRequestData(http, buffer, size_t(n));
  }
  ipp_t* response = nullptr;
  if (status == HTTP_STATUS_CONTINUE || status == HTTP_STATUS_OK)
    response = Cups().cupsGetResponse(http, resource.constData());
  if (!response) failure = Cups().httpError(http) ? TCupsConnection::NoAnswer(http) : LastCupsError();
  return response;
}

std::vector<TIppGroup> Groups(ipp_t* response, ipp_tag_t tag) {
  std::vector<TIppGroup> groups;
  bool open = false;
  for (ipp_attribute_t* a = Cups().ippFirstAttribute(response); a; a = Cups().ippNextAttribute(response)) {
    if (Cups().ippGetGroupTag(a) != tag || !Cups().ippGetName(a)) {
      open = false;
      continue;
    }
    if (!open) groups.emplace_back();
    open = true;
    groups.back().push_back(a);
  }
  return groups;
}

ipp_attribute_t* Find(const TIppGroup& group, const char* name) {
  for (ipp_attribute_t* a : group)
    if (std::strcmp(Cups().ippGetName(a), name) == 0) return a;
  return nullptr;
}

int IntegerOf(const TIppGroup& group, const char* name, int otherwise) {
  ipp_attribute_t* a = Find(group, name);
  if (!a || Cups().ippGetCount(a) < 1) return otherwise;
  const ipp_tag_t type = Cups().ippGetValueTag(a);
  return type == IPP_TAG_INTEGER || type == IPP_TAG_ENUM ? Cups().ippGetInteger(a, 0) : otherwise;
}

QString StringOf(const TIppGroup& group, const char* name) {
  const QStringList all = StringsOf(group, name);
  return all.isEmpty() ? QString() : all.first();
}

QStringList StringsOf(const TIppGroup& group, const char* name) {
  QStringList strings;
  ipp_attribute_t* a = Find(group, name);
  for (int i = 0; a && i < Cups().ippGetCount(a); ++i) {
    const char* text = Cups().ippGetString(a, i, nullptr);
    if (text) strings << QString::fromUtf8(text);
  }
  return strings;
}

}  // namespace qm
