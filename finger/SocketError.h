// Network failures, numbered and described the way the operator's log shows them.
#pragma once

#include <cstddef>
#include <stdexcept>
#include <string>

namespace qm {

// The description of a socket error number (10004..10066, 11001); empty for any other.
const char* SocketErrorDescription(int code);

// "Socket Error # <code>\r\n<description>"
class ESocketError : public std::runtime_error {
 public:
  explicit ESocketError(int code);
  int Code;
};

// The numbers used for failures that have no system error of their own.
inline constexpr int kSocketTimedOut = 10060;
inline constexpr int kSocketHostNotFound = 11001;

// The Finger reply grew past its size bound.
class EFingerReplyTooLarge : public std::runtime_error {
 public:
  explicit EFingerReplyTooLarge(std::size_t limit);
};

}  // namespace qm
