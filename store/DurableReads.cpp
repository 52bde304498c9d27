// The owner's reads, forwarded to the file once what was queued is committed; a read that
// finds damage repairs the store once and reads again.
#include "store/DurableStore.h"

#include <algorithm>

#include "base/AsciiText.h"
#include "store/DurableStoreParts.h"

namespace qm {

template <class TRead>
auto TDurableStore::Reading(TRead read) const {
  try {
    return read();
  } catch (const EMessageStoreError& e) {
    if (e.Kind() != EMessageStoreError::TKind::ekDamaged) throw;
    // Reads come from the owner's thread with the store's guard: repaired as a change would be.
    if (!const_cast<TDurableStore*>(this)->Repair(e.what()) || !IsOpen()) throw;
    return read();
  }
}

std::vector<TStoredMessage> TDurableStore::Listed() const {
  Drain();
  const std::lock_guard guard(FGuard);
  return Reading([&] { return IsOpen() ? FStore->Listed() : std::vector<TStoredMessage>{}; });
}

std::vector<TStoredMessage> TDurableStore::FullTextsUnprinted() const {
  Drain();
  const std::lock_guard guard(FGuard);
  return Reading([&] { return IsOpen() ? FStore->FullTextsUnprinted() : std::vector<TStoredMessage>{}; });
}

std::vector<TStoredMessage> TDurableStore::Messages(const std::vector<std::int64_t>& ids) const {
  Drain();
  const std::lock_guard guard(FGuard);
  if (!IsOpen()) return {};
  std::vector<std::int64_t> inFile;
  for (const std::int64_t id : ids)
    if (const std::int64_t m = MessageInFile(id); m != 0) inFile.push_back(m);
  return Reading([&] { return FStore->Messages(inFile); });
}

TStoredMessage TDurableStore::Message(std::int64_t id) const {
  Drain();
  const std::lock_guard guard(FGuard);
  const std::int64_t inFile = Known(MessageInFile(id), id, FPath, "message");
  if (!IsOpen()) throw EMessageStoreError(FPath + ": no store is open", EMessageStoreError::ekStorage);
  return Reading([&] { return FStore->Message(inFile); });
}

std::vector<TStoredJob> TDurableStore::PendingJobs() const {
  Drain();
  const std::lock_guard guard(FGuard);
  return Reading([&] { return IsOpen() ? FStore->PendingJobs() : std::vector<TStoredJob>{}; });
}

std::vector<TStoredMessage> TDurableStore::Unlogged() const {
  Drain();
  const std::lock_guard guard(FGuard);
  return Reading([&] { return IsOpen() ? FStore->Unlogged() : std::vector<TStoredMessage>{}; });
}

std::vector<TStoredMessage> TDurableStore::Sounding() const {
  Drain();
  const std::lock_guard guard(FGuard);
  return Reading([&] { return IsOpen() ? FStore->Sounding() : std::vector<TStoredMessage>{}; });
}

namespace {

void ThrowUnlessWritable(bool open, bool failing, const std::string& path) {
  if (!open || failing)
    throw EMessageStoreError(path + ": the message store cannot be written now",
                             EMessageStoreError::ekStorage);
}

}  // namespace

void TDurableStore::NoteSent(const TSentMessage& message) const {
  FLastSentId = std::max(FLastSentId, message.Id);
  if (message.State == ssSending)
    FSending[message.Id] = message;
  else
    FSending.erase(message.Id);
}

void TDurableStore::PutBackSent() {
  if (FSending.empty() && FLastSentId == 0) return;
  std::vector<TSentMessage> sending;
  for (const auto& [id, message] : FSending) sending.push_back(message);
  try {
    FStore->PutBackSent(sending, FLastSentId);
  } catch (const EMessageStoreError&) {
    // Tried again with the next sent message's change.
  }
}

TSentMessage TDurableStore::AddSent(const TSentMessage& message,
                                    const std::function<std::string(std::int64_t)>& numberFor,
                                    const TMessageStore::TListingFor& listingFor, std::int64_t* listedId) {
  Drain();
  const std::lock_guard guard(FGuard);
  ThrowUnlessWritable(IsOpen(), FFailing, FPath);
  TSentMessage kept = FStore->AddSent(message, numberFor, FLastSentId, listingFor, listedId);
  NoteSent(kept);
  return kept;
}

void TDurableStore::UpdateSent(const TSentMessage& message) {
  Drain();
  const std::lock_guard guard(FGuard);
  ThrowUnlessWritable(IsOpen(), FFailing, FPath);
  try {
    FStore->UpdateSent(message);
  } catch (const EMessageStoreError& e) {
    // Its row went with a damaged page, or the put-back at the opening failed: written whole.
    if (e.Kind() != EMessageStoreError::ekRefused || FSending.count(message.Id) == 0) throw;
    FStore->PutBackSent({message}, FLastSentId);
  }
  NoteSent(message);
}

std::vector<TSentMessage> TDurableStore::SentSince(double sinceUtc) const {
  Drain();
  const std::lock_guard guard(FGuard);
  std::vector<TSentMessage> sent =
      Reading([&] { return IsOpen() ? FStore->SentSince(sinceUtc) : std::vector<TSentMessage>{}; });
  for (const TSentMessage& m : sent) NoteSent(m);
  return sent;
}

TStoredJob TDurableStore::Job(std::int64_t id) const {
  Drain();
  const std::lock_guard guard(FGuard);
  const std::int64_t inFile = Known(JobInFile(id), id, FPath, "job");
  if (!IsOpen()) throw EMessageStoreError(FPath + ": no store is open", EMessageStoreError::ekStorage);
  return Reading([&] { return FStore->Job(inFile); });
}

std::optional<TStoredJob> TDurableStore::JobByNumber(std::int64_t number) const {
  Drain();
  const std::lock_guard guard(FGuard);
  if (!IsOpen()) throw EMessageStoreError(FPath + ": no store is open", EMessageStoreError::ekStorage);
  return Reading([&] { return FStore->JobByNumber(number); });
}

bool TDurableStore::HasRepeatSince(const TStoredMessage& m, bool byNumber, double utcFrom,
                                   double utcBefore) const {
  const std::lock_guard guard(FGuard);
  for (const TChange& c : FHeld) {
    const TStoredMessage& h = c.Message;
    if (c.Op != TChange::opAdd || h.UtcTime < utcFrom || h.UtcTime >= utcBefore ||
        UpperCase(h.Source) != UpperCase(m.Source))
      continue;
    if (byNumber ? !m.MessageId.empty() && h.MessageId == m.MessageId
                 : Trim(h.Addressee) == Trim(m.Addressee) && h.MessageText == m.MessageText)
      return true;
  }
  return Reading([&] { return IsOpen() && FStore->HasRepeatSince(m, byNumber, utcFrom, utcBefore); });
}

bool TDurableStore::IsKept(std::int64_t id) const {
  const std::lock_guard guard(FGuard);
  return MessageInFile(id) != 0;
}

std::int64_t TDurableStore::IdInFile(std::int64_t id) const {
  const std::lock_guard guard(FGuard);
  return MessageInFile(id);
}

bool TDurableStore::TextIndexed() const {
  const std::lock_guard guard(FGuard);
  return FTextIndexed;
}

}  // namespace qm
