// POSIX sockets behind Socket.h (SocketWin.cpp is the Winsock twin).
// Name lookups use glibc's getaddrinfo_a so that a silent name server cannot hold a
// caller past its deadline.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <vector>

#include "finger/Socket.h"

// ThreadSanitizer cannot follow the resolver threads of getaddrinfo_a: glibc starts them
// past its interceptors, and its allocator crashes on their first malloc. Builds with it
// take the blocking lookup.
#if defined(__SANITIZE_THREAD__)
#define QM_TSAN 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define QM_TSAN 1
#endif
#endif
#if defined(__GLIBC__) && !defined(QM_TSAN)
#define QM_TIMED_LOOKUP 1
#else
#define QM_TIMED_LOOKUP 0
#endif

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
    case EPIPE:  // writing to a connection the peer has reset
      return 10054;
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

// Waits until fd is ready for events, the deadline passes (10060) or the wait is abandoned.
void WaitFor(int fd, short events, TDeadline by, const TAbandon* abandon) {
  for (;;) {
    if (abandon && *abandon) throw ESocketError(kSocketInterrupted);
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(by - std::chrono::steady_clock::now());
    if (left.count() <= 0) throw ESocketError(kSocketTimedOut);
    pollfd entry{fd, events, 0};
    const long long most = abandon ? kAbandonCheck.count() : 60000;
    const int ready = ::poll(&entry, 1, static_cast<int>(std::min<long long>(left.count(), most)));
    if (ready > 0) return;
    if (ready < 0 && errno != EINTR) ThrowSystem(errno);
  }
}

int Fd(std::intptr_t handle) {
  return static_cast<int>(handle);
}

[[noreturn]] void ThrowLookupFailure(int rc) {
  if (rc == EAI_MEMORY) throw ESocketError(10055);
  throw ESocketError(kSocketHostNotFound);
}

TIpv4Address FirstIpv4(const addrinfo* found) {
  TIpv4Address address{};
  const auto* ipv4 = reinterpret_cast<const sockaddr_in*>(found->ai_addr);
  std::memcpy(address.data(), &ipv4->sin_addr.s_addr, 4);
  return address;
}

addrinfo Ipv4Hints() {
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  return hints;
}

#if QM_TIMED_LOOKUP

// One lookup handed to glibc's resolver threads. They read the name and hints and write
// the result until the lookup ends, which may be long after its caller gave up.
struct TLookup {
  explicit TLookup(const std::string& host) : Name(host), Hints(Ipv4Hints()) {
    Request.ar_name = Name.c_str();
    Request.ar_request = &Hints;
  }
  TLookup(const TLookup&) = delete;
  TLookup& operator=(const TLookup&) = delete;
  ~TLookup() {
    if (Request.ar_result != nullptr) ::freeaddrinfo(Request.ar_result);
  }
  bool Running() { return ::gai_error(&Request) == EAI_INPROGRESS; }

  const std::string Name;
  const addrinfo Hints;
  gaicb Request{};
};

// Lookups given up on while a resolver thread still works on them; each is freed once
// that thread is done with it. Never destroyed: a lookup may still run at exit.
struct TAbandonedLookups {
  std::mutex Lock;
  std::vector<std::unique_ptr<TLookup>> Lookups;

  static TAbandonedLookups& Instance() {
    static auto* const instance = new TAbandonedLookups;
    return *instance;
  }
  // Frees the finished ones; the caller holds Lock.
  void Reap() {
    std::erase_if(Lookups, [](const std::unique_ptr<TLookup>& lookup) { return !lookup->Running(); });
  }
};

timespec Until(TDeadline by) {
  const auto left = std::chrono::ceil<std::chrono::milliseconds>(by - std::chrono::steady_clock::now());
  const long long ms = std::clamp<long long>(left.count(), 0, 60000);
  return timespec{static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1000000};
}

TIpv4Address LookUp(const std::string& host, TDeadline by, const TAbandon* abandon) {
  {
    auto& abandoned = TAbandonedLookups::Instance();
    const std::lock_guard hold(abandoned.Lock);
    abandoned.Reap();
  }
  if (std::chrono::steady_clock::now() >= by) throw ESocketError(kSocketTimedOut);
  auto lookup = std::make_unique<TLookup>(host);
  gaicb* list[] = {&lookup->Request};
  const int started = ::getaddrinfo_a(GAI_NOWAIT, list, 1, nullptr);
  if (started == EAI_SYSTEM) ThrowSystem(errno);
  if (started != 0) ThrowLookupFailure(started);
  while (lookup->Running()) {
    const bool abandoned = abandon && *abandon;
    if (abandoned || std::chrono::steady_clock::now() >= by) {
      // Cancelled (still queued) or finished meanwhile: ours to free. Still running: the
      // resolver thread keeps using it, so it waits in the abandoned list.
      if (::gai_cancel(&lookup->Request) == EAI_NOTCANCELED) {
        auto& abandoned = TAbandonedLookups::Instance();
        const std::lock_guard hold(abandoned.Lock);
        try {
          abandoned.Lookups.push_back(std::move(lookup));
        } catch (const std::bad_alloc&) {
          (void)lookup.release();  // better lost than freed under the resolver
        }
      }
      throw ESocketError(abandoned ? kSocketInterrupted : kSocketTimedOut);
    }
    const timespec wait =
        Until(abandon ? std::min(by, std::chrono::steady_clock::now() + kAbandonCheck) : by);
    (void)::gai_suspend(list, 1, &wait);  // time-out and signals: the loop looks again
  }
  const int rc = ::gai_error(&lookup->Request);
  if (rc != 0) ThrowLookupFailure(rc);  // EAI_SYSTEM's errno stayed in the resolver thread
  return FirstIpv4(lookup->Request.ar_result);
}

#else

// Without an asynchronous resolver the lookup blocks; it still counts against the
// caller's bounds, which the connection then sees mostly used.
TIpv4Address LookUp(const std::string& host, TDeadline, const TAbandon*) {
  const addrinfo hints = Ipv4Hints();
  addrinfo* found = nullptr;
  const int rc = ::getaddrinfo(host.c_str(), nullptr, &hints, &found);
  if (rc == EAI_SYSTEM) ThrowSystem(errno);
  if (rc != 0) ThrowLookupFailure(rc);
  const TIpv4Address address = FirstIpv4(found);
  ::freeaddrinfo(found);
  return address;
}

#endif

}  // namespace

TIpv4Address ResolveIpv4(const std::string& host, TDeadline by, const TAbandon* abandon) {
  if (host.find('\0') != std::string::npos) throw ESocketError(kSocketHostNotFound);
  in_addr dotted{};
  if (::inet_pton(AF_INET, host.c_str(), &dotted) == 1) {
    TIpv4Address address{};
    std::memcpy(address.data(), &dotted.s_addr, 4);
    return address;
  }
  return LookUp(host, by, abandon);
}

bool NameLookupKeepsDeadlines() {
  return QM_TIMED_LOOKUP != 0;
}

std::size_t AwaitAbandonedNameLookups(TDeadline by) {
#if QM_TIMED_LOOKUP
  auto& abandoned = TAbandonedLookups::Instance();
  const std::lock_guard hold(abandoned.Lock);
  for (;;) {
    abandoned.Reap();
    if (abandoned.Lookups.empty() || std::chrono::steady_clock::now() >= by) return abandoned.Lookups.size();
    std::vector<const gaicb*> list;
    for (const auto& lookup : abandoned.Lookups) list.push_back(&lookup->Request);
    const timespec wait = Until(by);
    (void)::gai_suspend(list.data(), static_cast<int>(list.size()), &wait);
  }
#else
  (void)by;
  return 0;
#endif
}

TTcpConnection TTcpConnection::Open(const TIpv4Address& address, std::uint16_t port, TDeadline connectBy,
                                    const TAbandon* abandon) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) ThrowSystem(errno);
  TTcpConnection connection(fd, abandon);  // closes fd on every failure below
  const int flags = ::fcntl(fd, F_GETFL);
  if (flags < 0 || ::fcntl(fd, F_SETFL, flags | O_NONBLOCK) < 0) ThrowSystem(errno);

  sockaddr_in peer{};
  peer.sin_family = AF_INET;
  peer.sin_port = htons(port);
  std::memcpy(&peer.sin_addr.s_addr, address.data(), 4);
  if (::connect(fd, reinterpret_cast<const sockaddr*>(&peer), sizeof peer) != 0) {
    if (errno != EINPROGRESS && errno != EINTR) ThrowSystem(errno);
    WaitFor(fd, POLLOUT, connectBy, abandon);
    int error = 0;
    socklen_t length = sizeof error;
    if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) != 0) ThrowSystem(errno);
    if (error != 0) ThrowSystem(error);
  }
  return connection;
}

TTcpConnection::TTcpConnection(TTcpConnection&& other) noexcept
    : FHandle(other.FHandle), FAbandon(other.FAbandon) {
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
      WaitFor(Fd(FHandle), POLLOUT, by, FAbandon);
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
      WaitFor(Fd(FHandle), POLLIN, by, FAbandon);
    } else if (errno != EINTR) {
      ThrowSystem(errno);
    }
  }
}

void TTcpConnection::ShutdownSend() noexcept {
  ::shutdown(Fd(FHandle), SHUT_WR);
}

}  // namespace qm
