#include "FingerClient.h"

#include <algorithm>
#include <memory>

#include "Socket.h"

namespace qm {

std::string TFingerClient::Fetch() {
  using Clock = std::chrono::steady_clock;
  const TDeadline endOfExchange = Clock::now() + Bounds.Total;
  if (Port < 1 || Port > 65535) throw ESocketError(10049);

  const TIpv4Address address = ResolveIpv4(Host);
  TTcpConnection connection = TTcpConnection::Open(address, static_cast<std::uint16_t>(Port),
                                                   std::min(endOfExchange, Clock::now() + Bounds.Connect));
  connection.Send(Query + "\r\n", endOfExchange);

  std::string reply;
  const auto chunk = std::make_unique<char[]>(kReceiveChunk);
  for (;;) {
    const std::size_t got =
        connection.Receive(chunk.get(), kReceiveChunk, std::min(endOfExchange, Clock::now() + Bounds.Idle));
    if (got == 0) break;
    if (got > Bounds.MaxReplyBytes - std::min(reply.size(), Bounds.MaxReplyBytes))
      throw EFingerReplyTooLarge(Bounds.MaxReplyBytes);
    reply.append(chunk.get(), got);
  }
  connection.ShutdownSend();
  return reply;
}

}  // namespace qm
