#include "host/CaptureReader.h"

#include <cerrno>
#include <cstring>

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
}

bool TCaptureReader::Fill() {
  FBegin = 0;
  FEnd = std::fread(FBuffer.data(), 1, FBuffer.size(), FFile.get());
  return FEnd > 0;
}

std::optional<std::string> TCaptureReader::NextLine() {
  if (!FFile) return std::nullopt;
  std::string line;
  bool tooLong = false;
  // A line is taken a block at a time; an endless one never grows memory past the bound.
  for (;;) {
    const bool atEnd = FBegin == FEnd && !Fill();
    const char* from = FBuffer.data() + FBegin;
    const auto* lf = atEnd ? nullptr : static_cast<const char*>(std::memchr(from, '\n', FEnd - FBegin));
    const std::size_t part = lf ? static_cast<std::size_t>(lf - from) : FEnd - FBegin;
    // One spare byte for a CR before the LF.
    if (!tooLong && line.size() + part > FMaxLine + 1) {
      tooLong = true;
      line.clear();
    }
    if (!tooLong) line.append(from, part);
    FBegin += part;
    if (!lf && !atEnd) continue;
    if (lf) ++FBegin;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (tooLong || line.size() > FMaxLine) {
      ++FDropped;
    } else if (!Blank(line)) {
      return line;
    }
    if (atEnd) return std::nullopt;
    line.clear();
    tooLong = false;
  }
}

}  // namespace qm
