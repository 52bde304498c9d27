// A blocking-looking TCP client connection with deadlines, over the platform's sockets.
// Every failure throws ESocketError with the Windows Sockets number of the failure.
#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "finger/SocketError.h"

namespace qm {

using TDeadline = std::chrono::steady_clock::time_point;

// Set from another thread, it ends a call that waits (ESocketError 10004, Winsock's number
// for an interrupted call) within kAbandonCheck: for an exchange whose answer nobody wants.
using TAbandon = std::atomic<bool>;
inline constexpr std::chrono::milliseconds kAbandonCheck{50};
inline constexpr int kSocketInterrupted = 10004;

// An IPv4 address, most significant byte first.
using TIpv4Address = std::array<std::uint8_t, 4>;

// A dotted address as it stands, else the first IPv4 address the system's resolver gives.
// Throws ESocketError (11001 when the name is unknown, 10060 when the deadline passes
// first). Where NameLookupKeepsDeadlines() the deadline and `abandon` hold; elsewhere the
// lookup blocks until the resolver gives up.
TIpv4Address ResolveIpv4(const std::string& host, TDeadline by, const TAbandon* abandon = nullptr);

// True with glibc's asynchronous lookups (not in ThreadSanitizer builds, which cannot
// follow glibc's resolver threads).
bool NameLookupKeepsDeadlines();

// A lookup that outlives its deadline runs on in the resolver and is freed once it ends.
// Waits until none is left or the deadline passes; returns how many still run.
std::size_t AwaitAbandonedNameLookups(TDeadline by);

// The Windows Sockets number for a system error number of this platform; numbers
// without a counterpart come back unchanged.
int SocketErrorCodeFromSystem(int systemError);

class TTcpConnection {
 public:
  // Connects, failing with 10060 when the deadline passes first. `abandon` (kept for the
  // connection's life) ends this and every later wait once set.
  static TTcpConnection Open(const TIpv4Address& address, std::uint16_t port, TDeadline connectBy,
                             const TAbandon* abandon = nullptr);

  TTcpConnection(TTcpConnection&& other) noexcept;
  TTcpConnection& operator=(TTcpConnection&&) = delete;
  TTcpConnection(const TTcpConnection&) = delete;
  ~TTcpConnection();  // closes

  // Sends all of data, in a single write whenever the system takes it whole.
  void Send(std::string_view data, TDeadline by);
  // Waits for data until the deadline (10060 after it) and reads at most size bytes;
  // 0 means the peer has closed its side.
  std::size_t Receive(char* buffer, std::size_t size, TDeadline by);
  // Ends the sending side; a failure here is of no consequence and ignored.
  void ShutdownSend() noexcept;

 private:
  TTcpConnection(std::intptr_t handle, const TAbandon* abandon) : FHandle(handle), FAbandon(abandon) {}
  std::intptr_t FHandle;
  const TAbandon* FAbandon;
};

}  // namespace qm
