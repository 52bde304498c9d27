// A one-connection TCP server on 127.0.0.1 with a random port, run on its own thread.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>
#include <thread>

namespace qm::test {

class TLoopbackServer {
 public:
  // handler gets the accepted connection; it is closed when the handler returns.
  explicit TLoopbackServer(std::function<void(int)> handler, int backlog = 4) {
    FListen = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (FListen < 0 || ::bind(FListen, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(FListen, backlog) != 0 ||
        ::getsockname(FListen, reinterpret_cast<sockaddr*>(&address), &length) != 0)
      throw std::runtime_error("loopback server: cannot listen");
    FPort = ntohs(address.sin_port);
    if (handler) {
      FThread = std::thread([this, handler] {
        const int client = ::accept(FListen, nullptr, nullptr);
        if (client < 0) return;  // woken by the destructor
        handler(client);
        ::close(client);
      });
    }
  }
  ~TLoopbackServer() {
    ::shutdown(FListen, SHUT_RDWR);  // wakes an accept that never got a client
    if (FThread.joinable()) FThread.join();
    ::close(FListen);
  }
  TLoopbackServer(const TLoopbackServer&) = delete;
  TLoopbackServer& operator=(const TLoopbackServer&) = delete;

  int Port() const { return FPort; }
  // Waits for the handler to finish.
  void Join() {
    if (FThread.joinable()) FThread.join();
  }
  int ListenFd() const { return FListen; }

 private:
  int FListen = -1;
  int FPort = 0;
  std::thread FThread;
};

// Reads until the peer closes its side (or fails); returns everything read.
inline std::string ReadToEnd(int fd) {
  std::string all;
  char buffer[4096];
  for (;;) {
    const ssize_t got = ::recv(fd, buffer, sizeof buffer, 0);
    if (got <= 0) return all;
    all.append(buffer, static_cast<std::size_t>(got));
  }
}

inline void SendAll(int fd, const std::string& data) {
  std::size_t done = 0;
  while (done < data.size()) {
    const ssize_t sent = ::send(fd, data.data() + done, data.size() - done, MSG_NOSIGNAL);
    if (sent <= 0) return;
    done += static_cast<std::size_t>(sent);
  }
}

// A connection to 127.0.0.1:port, or -1.
inline int ConnectLoopback(int port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(static_cast<std::uint16_t>(port));
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
    ::close(fd);
    return -1;
  }
  return fd;
}

}  // namespace qm::test
