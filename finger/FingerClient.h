// One Finger (RFC 1288) exchange: send a query line, take everything until the server closes.
#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <string>

#include "finger/Socket.h"
#include "finger/SocketError.h"

namespace qm {

// The public weather-alert Finger server: it answers a query of the alert's originating
// station and the first three characters of its message number, for alerts still active.
inline constexpr char kNwsFingerHost[] = "wxsvr.ae5pl.net";

// Limits that keep a silent or endless server from freezing the window for long.
struct TFingerBounds {
  std::chrono::milliseconds Connect{10000};  // until the connection stands, name lookup included
  std::chrono::milliseconds Idle{10000};     // longest wait for the next reply data
  std::chrono::milliseconds Total{20000};    // the whole exchange, resolution included
  std::size_t MaxReplyBytes = 1024 * 1024;
};

class TFingerClient {
 public:
  std::string Host = kNwsFingerHost;
  int Port = 79;
  std::string Query;  // without its line end
  TFingerBounds Bounds;
  // Set from another thread, it ends the exchange within a moment (ESocketError 10004).
  const TAbandon* Abandon = nullptr;

  // Sends Query and CR LF in one write and returns every byte the server sends until
  // it closes, unchanged. Throws ESocketError on network failures (10060 when a time
  // bound passes) and EFingerReplyTooLarge past the size bound; a partial reply is dropped.
  std::string Fetch();

  // The most bytes taken from the system in one receive.
  static constexpr std::size_t kReceiveChunk = 32768;
};

// The read loop of Fetch: asks receive(buffer, kReceiveChunk) for data until it returns 0
// and appends every byte unchanged; throws EFingerReplyTooLarge once more than maxBytes came.
std::string CollectFingerReply(const std::function<std::size_t(char*, std::size_t)>& receive,
                               std::size_t maxBytes);

}  // namespace qm
