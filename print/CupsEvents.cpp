#include "print/CupsEvents.h"

#include "print/CupsIpp.h"

#include <cstring>

namespace qm {

namespace {

// Marks the subscription as this program's among the user's others.
constexpr char Marker[] = "Quillmark job ends";
// A day: a program stopped longer than that no longer has jobs to ask about. Renewed
// hourly while in use.
constexpr int LeaseSeconds = 86400;
constexpr qint64 RenewAfterMs = 3600 * 1000;
// The jobs remembered; far more than a station has in the spooler at once.
constexpr std::size_t KeptEnds = 4096;

bool IsMarked(const TIppGroup& subscription) {
  ipp_attribute_t* data = Find(subscription, "notify-user-data");
  if (!data) return false;
  int length = 0;
  const void* bytes = Cups().ippGetOctetString(data, 0, &length);
  return bytes && length == int(std::strlen(Marker)) && std::memcmp(bytes, Marker, std::size_t(length)) == 0;
}

}  // namespace

TCupsJobEnds::TWatch TCupsJobEnds::Watch(const TCupsConnection& connection) {
  if (FSubscription && FRenewed.isValid() && FRenewed.elapsed() < RenewAfterMs) return wWatching;
  // Each step stops at a spooler that does not answer: the waits would only add up.
  if (FSubscription) {
    const TWatch renewed = Renew(connection);
    if (renewed != wRefused) return renewed;
    FSubscription = 0;
  }
  TWatch adopted = Adopt(connection);
  if (adopted == wWatching) adopted = Renew(connection);
  if (adopted != wRefused) return adopted;
  return Create(connection);
}

TCupsJobEnds::TWatch TCupsJobEnds::Adopt(const TCupsConnection& connection) {
  const TIpp request(NewRequest(IPP_OP_GET_SUBSCRIPTIONS, "printer-uri", "/"));
  Cups().ippAddBoolean(request.get(), IPP_TAG_OPERATION, "my-subscriptions", 1);
  QString failure;
  const TIpp response(Exchange(connection, request.get(), "/", QString(), failure));
  if (!response.get()) return wNoAnswer;
  FSubscription = 0;
  if (!Succeeded(response.get())) return wRefused;
  for (const TIppGroup& subscription : Groups(response.get(), IPP_TAG_SUBSCRIPTION)) {
    // Ours is on the whole spooler: no queue, no job.
    if (!IsMarked(subscription) || Find(subscription, "notify-printer-uri") ||
        Find(subscription, "notify-job-id"))
      continue;
    const int id = IntegerOf(subscription, "notify-subscription-id");
    // The oldest holds the longest record.
    if (id > 0 && (!FSubscription || id < FSubscription)) FSubscription = id;
  }
  // Its events from the first it still keeps.
  FNextEvent = 1;
  return FSubscription ? wWatching : wRefused;
}

TCupsJobEnds::TWatch TCupsJobEnds::Create(const TCupsConnection& connection) {
  const TIpp request(NewRequest(IPP_OP_CREATE_PRINTER_SUBSCRIPTIONS, "printer-uri", "/"));
  Cups().ippAddString(request.get(), IPP_TAG_SUBSCRIPTION, IPP_TAG_KEYWORD, "notify-events", nullptr,
                      "job-completed");
  Cups().ippAddString(request.get(), IPP_TAG_SUBSCRIPTION, IPP_TAG_KEYWORD, "notify-pull-method", nullptr,
                      "ippget");
  Cups().ippAddOctetString(request.get(), IPP_TAG_SUBSCRIPTION, "notify-user-data", Marker,
                           int(std::strlen(Marker)));
  Cups().ippAddInteger(request.get(), IPP_TAG_SUBSCRIPTION, IPP_TAG_INTEGER, "notify-lease-duration",
                       LeaseSeconds);
  QString failure;
  const TIpp response(Exchange(connection, request.get(), "/", QString(), failure));
  if (!response.get()) return wNoAnswer;
  if (!Succeeded(response.get())) return wRefused;
  const std::vector<TIppGroup> made = Groups(response.get(), IPP_TAG_SUBSCRIPTION);
  FSubscription = made.empty() ? 0 : IntegerOf(made.front(), "notify-subscription-id");
  FNextEvent = 1;
  if (!FSubscription) return wRefused;
  FRenewed.start();
  return wWatching;
}

TCupsJobEnds::TWatch TCupsJobEnds::Renew(const TCupsConnection& connection) {
  const TIpp request(NewRequest(IPP_OP_RENEW_SUBSCRIPTION, "printer-uri", "/"));
  Cups().ippAddInteger(request.get(), IPP_TAG_OPERATION, IPP_TAG_INTEGER, "notify-subscription-id",
                       FSubscription);
  Cups().ippAddInteger(request.get(), IPP_TAG_SUBSCRIPTION, IPP_TAG_INTEGER, "notify-lease-duration",
                       LeaseSeconds);
  QString failure;
  const TIpp response(Exchange(connection, request.get(), "/", QString(), failure));
  if (!response.get()) return wNoAnswer;
  if (!Succeeded(response.get())) return wRefused;
  FRenewed.start();
  return wWatching;
}

void TCupsJobEnds::Read(const TCupsConnection& connection) {
  const TIpp request(NewRequest(IPP_OP_GET_NOTIFICATIONS, "printer-uri", "/"));
  Cups().ippAddInteger(request.get(), IPP_TAG_OPERATION, IPP_TAG_INTEGER, "notify-subscription-ids",
                       FSubscription);
  Cups().ippAddInteger(request.get(), IPP_TAG_OPERATION, IPP_TAG_INTEGER, "notify-sequence-numbers",
                       FNextEvent);
  QString failure;
  const TIpp response(Exchange(connection, request.get(), "/", QString(), failure));
  if (!response.get()) return;
  if (Cups().ippGetStatusCode(response.get()) == IPP_STATUS_ERROR_NOT_FOUND) {
    FSubscription = 0;  // expired or removed: the next Watch makes another
    return;
  }
  if (!Succeeded(response.get())) return;
  for (const TIppGroup& event : Groups(response.get(), IPP_TAG_EVENT_NOTIFICATION)) {
    FNextEvent = std::max(FNextEvent, IntegerOf(event, "notify-sequence-number") + 1);
    const int job = IntegerOf(event, "notify-job-id");
    const int state = IntegerOf(event, "job-state");
    if (job > 0 && state >= IPP_JSTATE_CANCELED) FEnds.emplace(job, state);  // the first end stays
  }
  while (FEnds.size() > KeptEnds) FEnds.erase(FEnds.begin());
}

int TCupsJobEnds::EndOf(const TCupsConnection& connection, int id) {
  if (const auto known = FEnds.find(id); known != FEnds.end()) return known->second;
  if (Watch(connection) != wWatching) return 0;
  Read(connection);
  const auto heard = FEnds.find(id);
  return heard == FEnds.end() ? 0 : heard->second;
}

}  // namespace qm
