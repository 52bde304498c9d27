#pragma once
// Bounded IPP exchanges with the local CUPS spooler, shared by the job, queue and event
// requests. Only where libcups is built in (QM_HAVE_CUPS).

#include "print/CupsLibrary.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <vector>

namespace qm {

// One connection to the spooler with bounded waits, closed on every path. The shared
// default connection of libcups is not used: it may still point at a spooler that has
// gone since, and it connects without a bound. Every request goes through one, and it is
// the one that loads libcups: without libcups there is no connection, and Error says why.
class TCupsConnection {
 public:
  TCupsConnection(int connectMs, double ioSeconds);
  ~TCupsConnection();
  TCupsConnection(const TCupsConnection&) = delete;
  TCupsConnection& operator=(const TCupsConnection&) = delete;

  http_t* Http() const { return FHttp; }
  const QString& Error() const { return FError; }

  static QString NoAnswer(http_t* http);

 private:
  http_t* FHttp = nullptr;
  QString FError;
};

// An IPP message, deleted on every path.
class TIpp {
 public:
  explicit TIpp(ipp_t* message) : FMessage(message) {}
  ~TIpp() { Cups().ippDelete(FMessage); }
  TIpp(const TIpp&) = delete;
  TIpp& operator=(const TIpp&) = delete;
  ipp_t* get() const { return FMessage; }

 private:
  ipp_t* FMessage;
};

// What libcups said about the last request, never empty.
QString LastCupsError();

// "ipp://localhost:<port><resource>", the URI the local spooler knows `resource` by.
QByteArray LocalUri(const QByteArray& resource);

// A new request of `operation` with the charset, language and the requesting user, and
// `uriName` set to LocalUri(resource).
ipp_t* NewRequest(ipp_op_t operation, const char* uriName, const QByteArray& resource);

// One request and its answer; `document` (a file, or "") follows the request. libcups'
// cupsDoFileRequest sends again when no answer came, reconnecting with waits of its own:
// a frozen spooler then holds the window for minutes. Null when no answer came; the
// reason is then in `failure`.
ipp_t* Exchange(const TCupsConnection& connection, ipp_t* request, const QByteArray& resource,
                const QString& document, QString& failure);

// The status of an answer, and whether it is one of the successful ones.
inline bool Succeeded(ipp_t* response) {
  return Cups().ippGetStatusCode(response) <= IPP_STATUS_OK_EVENTS_COMPLETE;
}

// The objects (jobs, subscriptions, events) an answer lists, each as the attributes of its
// group: a group tagged `tag` runs until an attribute without a name or with another tag.
using TIppGroup = std::vector<ipp_attribute_t*>;
std::vector<TIppGroup> Groups(ipp_t* response, ipp_tag_t tag);
// The attribute `name` of `group`, or null.
ipp_attribute_t* Find(const TIppGroup& group, const char* name);
// Its first integer (or enum), or `otherwise`.
int IntegerOf(const TIppGroup& group, const char* name, int otherwise = 0);
// Its first string, or "".
QString StringOf(const TIppGroup& group, const char* name);
// All its strings.
QStringList StringsOf(const TIppGroup& group, const char* name);

}  // namespace qm
