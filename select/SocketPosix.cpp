// POSIX sockets behind Socket.h; a Winsock twin would map WSAGetLastError() directly.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "Socket.h"

namespace qm {

int SocketErrorCodeFromSystem(int systemError) {
  switch (systemError) {
    case EINTR:
      return 10004;
    case EBADF:
      return 10009;
    case EACCES:
      return 10013;
    case EFAULT:
      return 10014;
    case EINVAL:
      return 10022;
    case EMFILE:
      return 10024;
    case EWOULDBLOCK:
      return 10035;
    case EINPROGRESS:
      return 10036;
    case EALREADY:
      return 10037;
    case ENOTSOCK:
      return 10038;
    case EDESTADDRREQ:
      return 10039;
    case EMSGSIZE:
      return 10040;
    case EPROTOTYPE:
      return 10041;
    case ENOPROTOOPT:
      return 10042;
    case EPROTONOSUPPORT:
      return 10043;
    case ESOCKTNOSUPPORT:
      return 10044;
    case EOPNOTSUPP:
      return 10045;
    case EPFNOSUPPORT:
      return 10046;
    case EAFNOSUPPORT:
      return 10047;
    case EADDRINUSE:
      return 10048;
    case EADDRNOTAVAIL:
      return 10049;
    case ENETDOWN:
      return 10050;
    case ENETUNREACH:
      return 10051;
    case ENETRESET:
      return 10052;
    case ECONNABORTED:
      return 10053;
    case ECONNRESET:
      return 10054;
    case EPIPE:
      return 10054;  // writing to a connection the peer has reset
    case ENOBUFS:
      return 10055;
    case EISCONN:
      return 10056;
    case ENOTCONN:
      return 10057;
    case ESHUTDOWN:
      return 10058;
    case ETOOMANYREFS:
      return 10059;
    case ETIMEDOUT:
      return 10060;
    case ECONNREFUSED:
      return 10061;
    case ELOOP:
      return 10062;
    case ENAMETOOLONG:
      return 10063;
    case EHOSTDOWN:
      return 10064;
    case EHOSTUNREACH:
      return 10065;
    case ENOTEMPTY:
      return 10066;
    default:
      return systemError;
  }
}

namespace {

[[noreturn]] void ThrowSystem(int systemError) {
  throw ESocketError(SocketErrorCodeFromSystem(systemError));
}

// Waits until fd is ready for events or the deadline passes (10060).
void WaitFor(int fd, short events, TDeadline by) {
  for (;;) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(by - std::chrono::steady_clock::now());
    if (left.count() <= 0) throw ESocketError(kSocketTimedOut);
    pollfd entry{fd, events, 0};
    const int ready = ::poll(&entry, 1, static_cast<int>(std::min<long long>(left.count(), 60000)));
    if (ready > 0) return;
    if (ready < 0 && errno != EINTR) ThrowSystem(errno);
  }
}

int Fd(std::intptr_t handle) {
  return static_cast<int>(handle);
}

}  // namespace

TIpv4Address ResolveIpv4(const std::string& host) {
  TIpv4Address address{};
  if (host.find('\0') != std::string::npos) throw ESocketError(kSocketHostNotFound);
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
  if (rc != 0) {
    if (rc == EAI_SYSTEM) ThrowSystem(errno);
    if (rc == EAI_MEMORY) throw ESocketError(10055);
    throw ESocketError(kSocketHostNotFound);
  }
  const auto* ipv4 = reinterpret_cast<const sockaddr_in*>(found->ai_addr);
  std::memcpy(address.data(), &ipv4->sin_addr.s_addr, 4);
  ::freeaddrinfo(found);
  return address;
}

TTcpConnection TTcpConnection::Open(const TIpv4Address& address, std::uint16_t port, TDeadline connectBy) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) ThrowSystem(errno);
  TTcpConnection connection(fd);  // closes fd on every failure below
  const int flags = ::fcntl(fd, F_GETFL);
  if (flags < 0 || ::fcntl(fd, F_SETFL, flags | O_NONBLOCK) < 0) ThrowSystem(errno);

  sockaddr_in peer{};
  peer.sin_family = AF_INET;
  peer.sin_port = htons(port);
  std::memcpy(&peer.sin_addr.s_addr, address.data(), 4);
  if (::connect(fd, reinterpret_cast<const sockaddr*>(&peer), sizeof peer) != 0) {
    if (errno != EINPROGRESS && errno != EINTR) ThrowSystem(errno);
    WaitFor(fd, POLLOUT, connectBy);
    int error = 0;
    socklen_t length = sizeof error;
    if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) != 0) ThrowSystem(errno);
    if (error != 0) ThrowSystem(error);
  }
  return connection;
}

TTcpConnection::TTcpConnection(TTcpConnection&& other) noexcept : FHandle(other.FHandle) {
  other.FHandle = -1;
}

TTcpConnection::~TTcpConnection() {
  if (FHandle >= 0) ::close(Fd(FHandle));
}

void TTcpConnection::Send(std::string_view data, TDeadline by) {
  while (!data.empty()) {
    const ssize_t sent = ::send(Fd(FHandle), data.data(), data.size(), MSG_NOSIGNAL);
    if (sent >= 0) {
      data.remove_prefix(static_cast<std::size_t>(sent));
    } else if (errno == EAGAIN || errno == EWOULDBLOCK) {
      WaitFor(Fd(FHandle), POLLOUT, by);
    } else if (errno != EINTR) {
      ThrowSystem(errno);
    }
  }
}

std::size_t TTcpConnection::Receive(char* buffer, std::size_t size, TDeadline by) {
  for (;;) {
    const ssize_t got = ::recv(Fd(FHandle), buffer, size, 0);
    if (got >= 0) return static_cast<std::size_t>(got);
    if (errno == EAGAIN || errno == EWOULDBLOCK) {
      WaitFor(Fd(FHandle), POLLIN, by);
    } else if (errno != EINTR) {
      ThrowSystem(errno);
    }
  }
}

void TTcpConnection::ShutdownSend() noexcept {
  ::shutdown(Fd(FHandle), SHUT_WR);
}

}  // namespace qm
