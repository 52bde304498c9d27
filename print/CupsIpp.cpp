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

TCupsConnection::~TCupsConnection() {
  if (FHttp) httpClose(FHttp);
}

QString TCupsConnection::NoAnswer(http_t* http) {
  QString text =
      QStringLiteral("no answer from the print service at %1").arg(QString::fromUtf8(cupsServer()));
  // libcups says "host is down" for nobody listening, which misleads for a local socket.
  const int error = http ? httpError(http) : 0;
  if (error && error != EHOSTDOWN)
    text += QStringLiteral(" (%1)").arg(QString::fromLocal8Bit(std::strerror(error)));
  return text;
}

QString LastCupsError() {
  const char* text = cupsLastErrorString();
  if (text && *text) return QString::fromUtf8(text);
  return QString::fromUtf8(ippErrorString(cupsLastError()));
}

QByteArray LocalUri(const QByteArray& resource) {
  char uri[HTTP_MAX_URI];
  httpAssembleURI(HTTP_URI_CODING_ALL, uri, sizeof uri, "ipp", nullptr, "localhost", ippPort(),
                  resource.constData());
  return QByteArray(uri);
}

ipp_t* NewRequest(ipp_op_t operation, const char* uriName, const QByteArray& resource) {
  ipp_t* request = ippNewRequest(operation);
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, uriName, nullptr, LocalUri(resource).constData());
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr, cupsUser());
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

std::vector<TIppGroup> Groups(ipp_t* response, ipp_tag_t tag) {
  std::vector<TIppGroup> groups;
  bool open = false;
  for (ipp_attribute_t* a = ippFirstAttribute(response); a; a = ippNextAttribute(response)) {
    if (ippGetGroupTag(a) != tag || !ippGetName(a)) {
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
    if (std::strcmp(ippGetName(a), name) == 0) return a;
  return nullptr;
}

int IntegerOf(const TIppGroup& group, const char* name, int otherwise) {
  ipp_attribute_t* a = Find(group, name);
  if (!a || ippGetCount(a) < 1) return otherwise;
  const ipp_tag_t type = ippGetValueTag(a);
  return type == IPP_TAG_INTEGER || type == IPP_TAG_ENUM ? ippGetInteger(a, 0) : otherwise;
}

QString StringOf(const TIppGroup& group, const char* name) {
  const QStringList all = StringsOf(group, name);
  return all.isEmpty() ? QString() : all.first();
}

QStringList StringsOf(const TIppGroup& group, const char* name) {
  QStringList strings;
  ipp_attribute_t* a = Find(group, name);
  for (int i = 0; a && i < ippGetCount(a); ++i) {
    const char* text = ippGetString(a, i, nullptr);
    if (text) strings << QString::fromUtf8(text);
  }
  return strings;
}

}  // namespace qm
