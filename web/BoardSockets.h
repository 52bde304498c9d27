// The few socket calls the board makes itself, beside cpp-httplib's: the same names over POSIX
// sockets and over Windows Sockets (whose poll, close, shutdown and error codes are spelled
// otherwise). Only the board's server uses it.
#pragma once

#include <httplib.h>
#ifndef _WIN32
#include <poll.h>  // POLLIN, POLLOUT; Windows Sockets has them
#endif

#include <string>

namespace qm::boardsock {

// Waits at most `timeoutMs` for `events` (POLLIN, POLLOUT): > 0 ready (also shut down or in
// error: the call after it fails), 0 timed out, < 0 failed for another reason than a signal.
int Wait(socket_t s, short events, int timeoutMs);
ssize_t Receive(socket_t s, char* buffer, std::size_t size);
// Never raises SIGPIPE where the system has it.
ssize_t Send(socket_t s, const char* data, std::size_t size);
// Both directions shut down: a worker waiting on it returns at once.
void ShutDown(socket_t s);
void Close(socket_t s);
// The port is this socket's alone: POSIX's SO_REUSEADDR (a port left in TIME_WAIT can be
// taken again), Windows' SO_EXCLUSIVEADDRUSE (its SO_REUSEADDR would let another take it).
bool OwnPort(socket_t s);

// The last socket call's failure, and what it means for the board.
int LastError();
bool IsAddressInUse(int error);
bool IsAddressNotAvailable(int error);
std::string ErrorText(int error);

}  // namespace qm::boardsock
