#pragma once
// A spooler that takes a request and never answers it, made of the suite's real cupsd and
// a go-between on loopback; and pointing libcups at another server for a while. For test
// programs that link libcups.

#include <QByteArray>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cups/cups.h>

#include <atomic>
#include <list>
#include <stdexcept>
#include <thread>

namespace qm::test {

// Listens on 127.0.0.1 and forwards each connection to cupsd at localhost:631, both ways,
// until Mute: from then on cupsd's answers are dropped while the requests still reach it.
class TMutingCupsProxy {
 public:
  TMutingCupsProxy() {
    FListen = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address = Loopback(0);
    socklen_t length = sizeof address;
    if (FListen < 0 || ::bind(FListen, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(FListen, 8) != 0 ||
        ::getsockname(FListen, reinterpret_cast<sockaddr*>(&address), &length) != 0)
      throw std::runtime_error("proxy: cannot listen");
    FPort = ntohs(address.sin_port);
    FAccept = std::thread([this] { AcceptAll(); });
  }
  ~TMutingCupsProxy() {
    FStop = true;
    ::shutdown(FListen, SHUT_RDWR);
    FAccept.join();
    for (std::thread& pump : FPumps) pump.join();
    ::close(FListen);
  }
  TMutingCupsProxy(const TMutingCupsProxy&) = delete;
  TMutingCupsProxy& operator=(const TMutingCupsProxy&) = delete;

  int Port() const { return FPort; }
  void Mute() { FMuted = true; }

 private:
  static sockaddr_in Loopback(int port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<uint16_t>(port));
    return address;
  }

  void AcceptAll() {
    for (;;) {
      const int client = ::accept4(FListen, nullptr, nullptr, SOCK_CLOEXEC);
      if (client < 0) return;  // shut down
      FPumps.emplace_back([this, client] { Pump(client); });
    }
  }

  void Pump(int client) {
    const int server = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in cupsd = Loopback(631);
    if (server >= 0 && ::connect(server, reinterpret_cast<sockaddr*>(&cupsd), sizeof cupsd) == 0) {
      char buffer[65536];
      while (!FStop) {
        pollfd both[2] = {{client, POLLIN, 0}, {server, POLLIN, 0}};
        if (::poll(both, 2, 100) <= 0) continue;
        const bool fromClient = both[0].revents != 0;
        const ssize_t got = ::recv(fromClient ? client : server, buffer, sizeof buffer, 0);
        if (got <= 0) break;
        if (!fromClient && FMuted) continue;
        if (::send(fromClient ? server : client, buffer, size_t(got), MSG_NOSIGNAL) != got) break;
      }
    }
    if (server >= 0) ::close(server);
    ::close(client);
  }

  int FListen = -1;
  int FPort = 0;
  std::atomic<bool> FStop{false};
  std::atomic<bool> FMuted{false};
  std::thread FAccept;
  std::list<std::thread> FPumps;  // touched by the accepting thread only, until it has ended
};

// libcups asks `server` ("host:port") while this lives, as CUPS_SERVER would make it.
class TCupsServerFor {
 public:
  explicit TCupsServerFor(const QByteArray& server) : FOld(qgetenv("CUPS_SERVER")) {
    qputenv("CUPS_SERVER", server);
    cupsSetServer(nullptr);  // read again from the environment
  }
  ~TCupsServerFor() {
    if (FOld.isNull())
      qunsetenv("CUPS_SERVER");
    else
      qputenv("CUPS_SERVER", FOld);
    cupsSetServer(nullptr);
  }
  TCupsServerFor(const TCupsServerFor&) = delete;
  TCupsServerFor& operator=(const TCupsServerFor&) = delete;

 private:
  QByteArray FOld;
};

}  // namespace qm::test
