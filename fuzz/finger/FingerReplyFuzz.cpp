// The Finger reply read loop fed from fuzz bytes: the first byte of each piece sets how
// much the "receive" hands over, so replies arrive in every possible split.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "finger/FingerClient.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::size_t maxBytes = data[0] * 16u;
  std::string sent;
  std::size_t at = 1;
  auto receive = [&](char* buffer, std::size_t room) -> std::size_t {
    if (at >= size) return 0;
    std::size_t piece = 1 + data[at++] % 97;
    piece = std::min({piece, room, size - at});
    std::memcpy(buffer, data + at, piece);
    sent.append(buffer, piece);
    at += piece;
    return piece;
  };
  try {
    const std::string reply = qm::CollectFingerReply(receive, maxBytes);
    if (reply != sent || reply.size() > maxBytes) std::abort();
  } catch (const qm::EFingerReplyTooLarge&) {
    if (sent.size() <= maxBytes) std::abort();  // refused a reply within the bound
  }
  return 0;
}
