#pragma once
// A spooler that takes a request and never answers it, made of the suite's real cupsd and
// a go-between on loopback; and libcups pointed at another server for a while. For test
// programs that link libcups.

#include "tests/support/LoopbackServer.h"

#include <QByteArray>

#include <poll.h>

#include <cups/cups.h>

#include <atomic>

namespace qm::test {

// Forwards one connection to cupsd at localhost:631, both ways, until Mute: from then on
// cupsd's answers are dropped while the requests still reach it. Ends when the client
// closes, or after 30 s without a byte.
class TMutingCupsProxy {
 public:
  TMutingCupsProxy() : FServer([this](int client) { Forward(client); }) {}
  int Port() const { return FServer.Port(); }
  void Mute() { FMuted = true; }

 private:
  void Forward(int client) {
    const int cupsd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(631);
    char buffer[65536];
    if (::connect(cupsd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) {
      for (pollfd both[2] = {{client, POLLIN, 0}, {cupsd, POLLIN, 0}}; ::poll(both, 2, 30000) > 0;) {
        const bool asked = both[0].revents != 0;
        const ssize_t got = ::recv(asked ? client : cupsd, buffer, sizeof buffer, 0);
        if (got <= 0) break;
        if (!asked && FMuted) continue;
        SendAll(asked ? cupsd : client, std::string(buffer, std::size_t(got)));
      }
    }
    ::close(cupsd);
  }

  std::atomic<bool> FMuted{false};
  TLoopbackServer FServer;  // last: its thread ends before the rest goes
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
