#include "web/BoardSockets.h"

#ifndef _WIN32
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#endif

namespace qm::boardsock {

#ifdef _WIN32

int Wait(socket_t s, short events, int timeoutMs) {
  WSAPOLLFD p{s, events, 0};
  return ::WSAPoll(&p, 1, timeoutMs);
}

ssize_t Receive(socket_t s, char* buffer, std::size_t size) {
  return ::recv(s, buffer, static_cast<int>(size), 0);
}

ssize_t Send(socket_t s, const char* data, std::size_t size) {
  return ::send(s, data, static_cast<int>(size), 0);
}

void ShutDown(socket_t s) {
  ::shutdown(s, SD_BOTH);
}

void Close(socket_t s) {
  ::closesocket(s);
}

bool OwnPort(socket_t s) {
  const BOOL yes = TRUE;
  return ::setsockopt(s, SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<const char*>(&yes), sizeof yes) ==
         0;
}

int LastError() {
  return ::WSAGetLastError();
}

bool IsAddressInUse(int error) {
  // Windows says "access denied" when another socket holds the port exclusively.
  return error == WSAEADDRINUSE || error == WSAEACCES;
}

bool IsAddressNotAvailable(int error) {
  return error == WSAEADDRNOTAVAIL;
}

std::string ErrorText(int error) {
  char text[256] = {};
  const DWORD n = ::FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                                   static_cast<DWORD>(error), 0, text, sizeof text, nullptr);
  std::string said(text, n);
  while (!said.empty() && (said.back() == '\n' || said.back() == '\r' || said.back() == '.')) said.pop_back();
  return said.empty() ? "Windows Sockets error " + std::to_string(error) : said;
}

#else

int Wait(socket_t s, short events, int timeoutMs) {
  pollfd p{s, events, 0};
  const int ready = ::poll(&p, 1, timeoutMs);
  return ready < 0 && errno == EINTR ? 0 : ready;
}

ssize_t Receive(socket_t s, char* buffer, std::size_t size) {
  ssize_t n = 0;
  do n = ::recv(s, buffer, size, 0);
  while (n < 0 && errno == EINTR);
  return n;
}

ssize_t Send(socket_t s, const char* data, std::size_t size) {
  ssize_t n = 0;
  do n = ::send(s, data, size, MSG_NOSIGNAL);
  while (n < 0 && errno == EINTR);
  return n;
}

void ShutDown(socket_t s) {
  ::shutdown(s, SHUT_RDWR);
}

void Close(socket_t s) {
  ::close(s);
}

bool OwnPort(socket_t s) {
  const int yes = 1;
  return ::setsockopt(s, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes) == 0;
}

int LastError() {
  return errno;
}

bool IsAddressInUse(int error) {
  return error == EADDRINUSE;
}

bool IsAddressNotAvailable(int error) {
  return error == EADDRNOTAVAIL;
}

std::string ErrorText(int error) {
  return std::strerror(error);
}

#endif

}  // namespace qm::boardsock
