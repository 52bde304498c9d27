#include "host/CaptureReader.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <system_error>
#include <utility>

namespace qm {
namespace {

// Read in blocks: a character at a time through a stream cost more than the rest of the
// replay together.
constexpr std::size_t kBlock = 64 * 1024;

bool Blank(const std::string& line) {
  for (const char ch : line)
    if (static_cast<unsigned char>(ch) > 32) return false;
  return true;
}

}  // namespace

bool TCaptureReader::Open(const std::string& path) {
  Close();
  FDropped = 0;
  FError.clear();
  // Before opening: a pipe's open waits for a writer.
  std::error_code ec;
  const auto type = std::filesystem::status(path, ec).type();
  if (!ec && type != std::filesystem::file_type::regular) {
    FError = "not a file (a device, a pipe or a folder)";
    return false;
  }
  errno = 0;
  FFile.reset(std::fopen(path.c_str(), "rb"));
  if (!FFile) {
    FError = errno != 0 ? std::strerror(errno) : "cannot be opened";
    return false;
  }
  FBuffer.resize(kBlock);
  return true;
}

void TCaptureReader::Close() {
  FFile.reset();
  FBuffer = {};
  FBegin = FEnd = 0;
  FAtEnd = FTooLong = false;
  FLine.clear();
  FReadInTurn = 0;
}

bool TCaptureReader::Fill() {
  FBegin = 0;
  FEnd = std::fread(FBuffer.data(), 1, FBuffer.size(), FFile.get());
  return FEnd > 0;
}

std::optional<std::string> TCaptureReader::NextLine() {
  if (AtEnd()) return std::nullopt;
  // A line is taken a block at a time; an endless one never grows memory past the bound.
  for (;;) {
    if (FBegin == FEnd) {
      if (FReadInTurn >= FMaxRead) return std::nullopt;
      FAtEnd = !Fill();
      FReadInTurn += FEnd;
    }
    const char* from = FBuffer.data() + FBegin;
    const auto* lf = FAtEnd ? nullptr : static_cast<const char*>(std::memchr(from, '\n', FEnd - FBegin));
    const std::size_t part = lf ? static_cast<std::size_t>(lf - from) : FEnd - FBegin;
    // One spare byte for a CR before the LF.
    if (!FTooLong && FLine.size() + part > FMaxLine + 1) {
      FTooLong = true;
      FLine.clear();
    }
    if (!FTooLong) FLine.append(from, part);
    FBegin += part;
    if (!lf && !FAtEnd) continue;
    if (lf) ++FBegin;
    std::string line = std::move(FLine);
    FLine.clear();
    const bool tooLong = std::exchange(FTooLong, false);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (tooLong || line.size() > FMaxLine) {
      ++FDropped;
    } else if (!Blank(line)) {
      return line;
    }
    if (FAtEnd) return std::nullopt;
  }
}

}  // namespace qm
