// Windows Sockets behind Socket.h. Winsock's own error numbers are the ones the log shows,
// so failures pass through unchanged. Name lookups block: getaddrinfo has no deadline here.
#include <winsock2.h>
#include <ws2tcpip.h>

#include <algorithm>
#include <climits>
#include <cstring>

#include "finger/Socket.h"

namespace qm {

namespace {

[[noreturn]] void ThrowSocketError(int code) {
  throw ESocketError(SocketErrorCodeFromSystem(code));
}

[[noreturn]] void ThrowLastError() {
  ThrowSocketError(::WSAGetLastError());
}

// Winsock is started once, on first use, and stays up for the program's life.
void StartWinsock() {
  static const int started = [] {
    WSADATA data{};
    return ::WSAStartup(MAKEWORD(2, 2), &data);
  }();
  if (started != 0) ThrowSocketError(started);
}

SOCKET Socket(std::intptr_t handle) {
  return static_cast<SOCKET>(handle);
}

enum class TWaitFor { wfRead, wfWrite, wfConnect };
using enum TWaitFor;

// Waits until the socket is ready, the deadline passes (10060) or the wait is abandoned. A
// connection that fails shows in the exception set, not the write set, and throws its own error.
void WaitFor(SOCKET socket, TWaitFor what, TDeadline by, const TAbandon* abandon) {
  for (;;) {
    if (abandon && *abandon) throw ESocketError(kSocketInterrupted);
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(by - std::chrono::steady_clock::now());
    if (left.count() <= 0) throw ESocketError(kSocketTimedOut);
    const long long ms = std::min<long long>(left.count(), abandon ? kAbandonCheck.count() : 60000);
    timeval wait{static_cast<long>(ms / 1000), static_cast<long>(ms % 1000) * 1000};
    fd_set ready;
    fd_set failed;
    FD_ZERO(&ready);
    FD_ZERO(&failed);
    FD_SET(socket, &ready);
    FD_SET(socket, &failed);
    const int count = ::select(0, what == wfRead ? &ready : nullptr, what == wfRead ? nullptr : &ready,
                               what == wfConnect ? &failed : nullptr, &wait);
    if (count == SOCKET_ERROR) ThrowLastError();
    if (count == 0) continue;
    if (what == wfConnect && FD_ISSET(socket, &failed)) {
      int error = 0;
      int length = sizeof error;
      if (::getsockopt(socket, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &length) != 0)
        ThrowLastError();
      ThrowSocketError(error != 0 ? error : WSAECONNREFUSED);
    }
    return;
  }
}

}  // namespace

int SocketErrorCodeFromSystem(int systemError) {
  return systemError;
}

TIpv4Address ResolveIpv4(const std::string& host, TDeadline, const TAbandon*) {
  if (host.find('\0') != std::string::npos) throw ESocketError(kSocketHostNotFound);
  StartWinsock();
  TIpv4Address address{};
  in_addr dotted{};
  if (::inet_pton(AF_INET, host.c_str(), &dotted) == 1) {
    std::memcpy(address.data(), &dotted.s_addr, 4);
    return address;
  }
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  const int rc = ::getaddrinfo(host.c_str(), nullptr, &hints, &found);
  if (rc == WSA_NOT_ENOUGH_MEMORY || rc == WSAENOBUFS) throw ESocketError(10055);
  if (rc != 0 || found == nullptr) throw ESocketError(kSocketHostNotFound);
  std::memcpy(address.data(), &reinterpret_cast<const sockaddr_in*>(found->ai_addr)->sin_addr.s_addr, 4);
  ::freeaddrinfo(found);
  return address;
}

bool NameLookupKeepsDeadlines() {
  return false;
}

std::size_t AwaitAbandonedNameLookups(TDeadline) {
  return 0;
}

TTcpConnection TTcpConnection::Open(const TIpv4Address& address, std::uint16_t port, TDeadline connectBy,
                                    const TAbandon* abandon) {
  StartWinsock();
  const SOCKET socket =
      ::WSASocketW(AF_INET, SOCK_STREAM, IPPROTO_TCP, nullptr, 0, WSA_FLAG_NO_HANDLE_INHERIT);
  if (socket == INVALID_SOCKET) ThrowLastError();
  TTcpConnection connection(static_cast<std::intptr_t>(socket), abandon);  // closes it on every failure below
  u_long nonBlocking = 1;
  if (::ioctlsocket(socket, FIONBIO, &nonBlocking) != 0) ThrowLastError();

  sockaddr_in peer{};
  peer.sin_family = AF_INET;
  peer.sin_port = htons(port);
  std::memcpy(&peer.sin_addr.s_addr, address.data(), 4);
  if (::connect(socket, reinterpret_cast<const sockaddr*>(&peer), sizeof peer) != 0) {
    if (::WSAGetLastError() != WSAEWOULDBLOCK) ThrowLastError();
    WaitFor(socket, wfConnect, connectBy, abandon);
  }
  return connection;
}

TTcpConnection::TTcpConnection(TTcpConnection&& other) noexcept
    : FHandle(other.FHandle), FAbandon(other.FAbandon) {
  other.FHandle = static_cast<std::intptr_t>(INVALID_SOCKET);
}

TTcpConnection::~TTcpConnection() {
  if (Socket(FHandle) != INVALID_SOCKET) ::closesocket(Socket(FHandle));
}

void TTcpConnection::Send(std::string_view data, TDeadline by) {
  while (!data.empty()) {
    const int chunk = static_cast<int>(std::min<std::size_t>(data.size(), INT_MAX));
    const int sent = ::send(Socket(FHandle), data.data(), chunk, 0);
    if (sent >= 0) {
      data.remove_prefix(static_cast<std::size_t>(sent));
    } else if (::WSAGetLastError() == WSAEWOULDBLOCK) {
      WaitFor(Socket(FHandle), wfWrite, by, FAbandon);
    } else {
      ThrowLastError();
    }
  }
}

std::size_t TTcpConnection::Receive(char* buffer, std::size_t size, TDeadline by) {
  const int most = static_cast<int>(std::min<std::size_t>(size, INT_MAX));
  for (;;) {
    const int got = ::recv(Socket(FHandle), buffer, most, 0);
    if (got >= 0) return static_cast<std::size_t>(got);
    if (::WSAGetLastError() != WSAEWOULDBLOCK) ThrowLastError();
    WaitFor(Socket(FHandle), wfRead, by, FAbandon);
  }
}

void TTcpConnection::ShutdownSend() noexcept {
  ::shutdown(Socket(FHandle), SD_SEND);
}

}  // namespace qm
