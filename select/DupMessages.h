// The list of recently accepted messages that repeats are checked against.
#pragma once

#include <cstddef>
#include <cstdint>
#include <list>
#include <map>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "base/AsciiText.h"
#include "parse/QuillmarkParse.h"

namespace qm {

class TDupMessage {
 public:
  std::uint32_t TickCount = 0;  // tick of the packet that created or last refreshed the entry
  std::string Body;
};

// Ordered pairs (sender's FullCall, owned TDupMessage) in the order added. Keys are looked
// up ignoring case and a look-up finds the first (oldest) pair for its key. Indexed by key
// and by tick so that look-ups and pruning stay cheap with many live entries.
class TDupMessageList {
 public:
  // An entry this old (ms, unsigned 32-bit tick arithmetic) or older is pruned.
  static constexpr std::uint32_t kMaxAgeMs = 20000;

  TDupMessageList() = default;
  TDupMessageList(const TDupMessageList&) = delete;
  TDupMessageList& operator=(const TDupMessageList&) = delete;

  // Removes every entry whose age now - TickCount is kMaxAgeMs or more.
  void Prune(std::uint32_t now);

  // The first entry for fullCall (ignoring case), or nullptr.
  TDupMessage* Find(std::string_view fullCall);

  // A repeat: the sender's first entry holds the same Body. Then that entry's TickCount
  // becomes the packet's and the answer is true. Only the first entry is compared, unless
  // CompareEveryEntry is set.
  bool IsDuplicate(const TAprsMsgPacket& packet);
  // With several sources heard at once each message comes once per source, a sender's later
  // messages as well as its first: then every entry of the sender is compared.
  void CompareEveryEntry(bool every) { FEveryEntry = every; }

  // Appends an entry at the end.
  void Add(std::string_view fullCall, std::uint32_t tickCount, std::string_view body);

  std::size_t Count() const { return FEntries.size(); }
  void Clear();

  // The pairs in list order (key as added); for inspection.
  std::vector<std::pair<std::string, TDupMessage>> Items() const;

 private:
  struct TEntry;
  using TEntryList = std::list<TEntry>;
  using TKeyChain = std::list<TEntryList::iterator>;  // entries of one key, oldest first
  using TTickIndex = std::multimap<std::uint32_t, TEntryList::iterator>;

  struct TEntry {
    std::string Key;
    TDupMessage Message;
    std::string FoldedKey;
    TKeyChain::iterator InChain;
    TTickIndex::iterator InTicks;
  };

  void Remove(TEntryList::iterator entry);
  void SetTick(TEntry& entry, std::uint32_t tick);

  TEntryList FEntries;
  std::unordered_map<std::string, TKeyChain> FByKey;
  TTickIndex FByTick;
  bool FEveryEntry = false;
};

}  // namespace qm
