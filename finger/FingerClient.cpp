#include "finger/FingerClient.h"

#include <algorithm>
#include <memory>

#include "finger/Socket.h"

namespace qm {

std::string CollectFingerReply(const std::function<std::size_t(char*, std::size_t)>& receive,
                               std::size_t maxBytes) {
  std::string reply;
  const auto chunk = std::make_unique<char[]>(TFingerClient::kReceiveChunk);
  for (;;) {
    const std::size_t got = receive(chunk.get(), TFingerClient::kReceiveChunk);
    if (got == 0) return reply;
    if (got > maxBytes - std::min(reply.size(), maxBytes)) throw EFingerReplyTooLarge(maxBytes);
    reply.append(chunk.get(), got);
  }
}

std::string TFingerClient::Fetch() {
  using Clock = std::chrono::steady_clock;
  const auto start = Clock::now();
  const TDeadline endOfExchange = start + Bounds.Total;
  const TDeadline connectedBy = std::min(endOfExchange, start + Bounds.Connect);
  if (Port < 1 || Port > 65535) throw ESocketError(10049);

  const TIpv4Address address = ResolveIpv4(Host, connectedBy, Abandon);
  TTcpConnection connection =
      TTcpConnection::Open(address, static_cast<std::uint16_t>(Port), connectedBy, Abandon);
  connection.Send(Query + "\r\n", endOfExchange);

  std::string reply = CollectFingerReply(
      [&](char* buffer, std::size_t size) {
        return connection.Receive(buffer, size, std::min(endOfExchange, Clock::now() + Bounds.Idle));
      },
      Bounds.MaxReplyBytes);
  connection.ShutdownSend();
  return reply;
}

}  // namespace qm
