// Splits an APRS-IS byte stream into lines, with a bound on a line's length.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

namespace qm {

class TAprsIsLineReader {
 public:
  static constexpr std::size_t DefaultMaxLine = 512;

  // maxLine bounds a line without its line end; a longer line is dropped up to its line end.
  explicit TAprsIsLineReader(std::size_t maxLine = DefaultMaxLine) : FMaxLine(maxLine) {}

  using TOnLine = std::function<void(std::string_view line)>;

  // Takes bytes as they arrive (any split); CR and LF both end a line; empty lines are
  // skipped. Calls onLine for each complete line, server lines ("#...") included.
  void Feed(std::string_view bytes, const TOnLine& onLine);

  // Forgets a half-received line (after a reconnect).
  void Reset();

  std::size_t DroppedLines() const { return FDropped; }

  // A server's own line (login answer, keep-alive) rather than a packet.
  static bool IsServerLine(std::string_view line) { return !line.empty() && line.front() == '#'; }

 private:
  std::size_t FMaxLine;
  std::string FLine;
  bool FTooLong = false;
  std::size_t FDropped = 0;
};

}  // namespace qm
