// Feeds arbitrary bytes to the reader of the board's key file: whatever it holds, only whole,
// well-formed keys come out, never more than the bound, and they read back the same.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "web/BoardKeys.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const std::vector<qm::TBoardKey> keys = qm::ParseBoardKeys(text);
  if (keys.size() > qm::kMaxBoardKeys) std::abort();
  for (const qm::TBoardKey& k : keys)
    if (!qm::IsBoardKeyName(k.Name) || k.Key.size() != 64) std::abort();
  if (qm::ParseBoardKeys(qm::BoardKeysText(keys)) != keys) std::abort();
  return 0;
}
