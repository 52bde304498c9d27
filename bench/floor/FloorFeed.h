// What the feed floors share: an APRS-IS client of the loopback feeder that logs in read-only
// and then waits on epoll for bytes, the least a program reading that feed must do.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

namespace floor_feed {

// Connects to 127.0.0.1:port, trying for 10 s while the feeder starts, and sends the login
// line; the socket, or -1 with a message.
inline int Connect(int port, const char* call) {
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(static_cast<std::uint16_t>(port));
  to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  int fd = -1;
  for (int attempt = 0; fd < 0 && attempt < 200; ++attempt) {
    fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    if (connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to) == 0) break;
    close(fd);
    fd = -1;
    usleep(50000);
  }
  if (fd < 0) {
    std::perror("connect");
    return -1;
  }
  const std::string login = std::string("user ") + call + " pass -1 vers floor 1.0\r\n";
  if (write(fd, login.data(), login.size()) != static_cast<ssize_t>(login.size())) {
    std::perror("login");
    close(fd);
    return -1;
  }
  return fd;
}

// Waits for bytes and hands each read to onBytes until the feed ends; 0 at its end.
template <typename TOnBytes>
int Run(int argc, char** argv, TOnBytes onBytes) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s PORT [CALL]\n", argv[0]);
    return 2;
  }
  const char* call = argc > 2 ? argv[2] : "Q0DEMO-9";
  const int fd = Connect(std::atoi(argv[1]), call);
  if (fd < 0) return 1;
  const int ep = epoll_create1(EPOLL_CLOEXEC);
  epoll_event ev{};
  ev.events = EPOLLIN;
  ev.data.fd = fd;
  if (ep < 0 || epoll_ctl(ep, EPOLL_CTL_ADD, fd, &ev) != 0) return 1;
  static char buffer[64 * 1024];
  for (;;) {
    epoll_event got{};
    if (epoll_wait(ep, &got, 1, -1) < 0) continue;
    const ssize_t n = read(fd, buffer, sizeof buffer);
    if (n <= 0) return 0;
    onBytes(std::string_view(buffer, static_cast<std::size_t>(n)), call);
  }
}

}  // namespace floor_feed
