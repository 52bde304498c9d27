#include "select/DupMessages.h"

#include <utility>

namespace qm {

void TDupMessageList::Remove(TEntryList::iterator entry) {
  FByTick.erase(entry->InTicks);
  auto chain = FByKey.find(entry->FoldedKey);
  chain->second.erase(entry->InChain);
  if (chain->second.empty()) FByKey.erase(chain);
  FEntries.erase(entry);
}

void TDupMessageList::SetTick(TEntry& entry, std::uint32_t tick) {
  const TEntryList::iterator self = entry.InTicks->second;
  FByTick.erase(entry.InTicks);
  entry.Message.TickCount = tick;
  entry.InTicks = FByTick.emplace(tick, self);
}

void TDupMessageList::Prune(std::uint32_t now) {
  // Live ticks lie in the circular window (now - kMaxAgeMs, now]; everything else goes.
  // In the linear order of ticks the dead part is one or two ranges.
  const std::uint32_t firstLive = now - kMaxAgeMs + 1;
  auto eraseRange = [this](TTickIndex::iterator from, TTickIndex::iterator to) {
    while (from != to) {
      const TEntryList::iterator entry = from->second;
      ++from;
      Remove(entry);
    }
  };
  if (firstLive <= now) {
    // Window does not wrap: dead ticks are [0, firstLive) and (now, max].
    eraseRange(FByTick.begin(), FByTick.lower_bound(firstLive));
    eraseRange(FByTick.upper_bound(now), FByTick.end());
  } else {
    // Window wraps past zero: dead ticks are (now, firstLive).
    eraseRange(FByTick.upper_bound(now), FByTick.lower_bound(firstLive));
  }
}

TDupMessage* TDupMessageList::Find(std::string_view fullCall) {
  auto chain = FByKey.find(UpperCase(fullCall));
  if (chain == FByKey.end()) return nullptr;
  return &chain->second.front()->Message;
}

bool TDupMessageList::IsDuplicate(const TAprsMsgPacket& packet) {
  auto chain = FByKey.find(UpperCase(packet.Source.FullCall));
  if (chain == FByKey.end()) return false;
  for (const TEntryList::iterator entry : chain->second) {
    if (entry->Message.Body == packet.Body) {
      SetTick(*entry, packet.TickCount);
      return true;
    }
    if (!FEveryEntry) break;
  }
  return false;
}

void TDupMessageList::Add(std::string_view fullCall, std::uint32_t tickCount, std::string_view body) {
  TEntry& entry = FEntries.emplace_back();
  const TEntryList::iterator self = std::prev(FEntries.end());
  entry.Key = std::string(fullCall);
  entry.Message.TickCount = tickCount;
  entry.Message.Body = std::string(body);
  entry.FoldedKey = UpperCase(fullCall);
  TKeyChain& chain = FByKey[entry.FoldedKey];
  entry.InChain = chain.insert(chain.end(), self);
  entry.InTicks = FByTick.emplace(tickCount, self);
}

void TDupMessageList::Clear() {
  FByTick.clear();
  FByKey.clear();
  FEntries.clear();
}

std::vector<std::pair<std::string, TDupMessage>> TDupMessageList::Items() const {
  std::vector<std::pair<std::string, TDupMessage>> items;
  items.reserve(FEntries.size());
  for (const TEntry& entry : FEntries) items.emplace_back(entry.Key, entry.Message);
  return items;
}

}  // namespace qm
