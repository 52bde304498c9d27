// What the pieces of TDurableStore share among themselves (store/ only; other rooms include
// store/DurableStore.h): its changes and how they go into the file (DurableStore.cpp), the
// commit thread (DurableCommits.cpp), what waits while the store fails (DurableHeld.cpp), the
// files put right at the open and after damage (DurableRepair.cpp), the owner's reads
// (DurableReads.cpp).
#pragma once

#include <cstdint>
#include <string>

#include "store/MessageStore.h"

namespace qm {

// The file's id of a message or job handed out as `id` (0 when it never reached the file):
// a change or read that names one never stored fails as the file's own call would.
inline std::int64_t Known(std::int64_t inFile, std::int64_t id, const std::string& path, const char* what) {
  if (inFile == 0)
    throw EMessageStoreError(path + ": " + what + " " + std::to_string(id) + " was never stored");
  return inFile;
}

// Before the store at `path` opens, what a kill left beside it: a copy cut short goes, and a
// complete fresh copy takes the file's place.
void TidyAfterKill(const std::string& path);

}  // namespace qm
