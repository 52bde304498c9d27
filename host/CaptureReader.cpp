#include "host/CaptureReader.h"

#include <cerrno>
#include <cstring>

namespace qm {

bool TCaptureReader::Open(const std::string& path) {
  Close();
  FDropped = 0;
  FError.clear();
  errno = 0;
  FFile.open(path, std::ios::binary);
  if (!FFile.is_open()) {
    FError = errno != 0 ? std::strerror(errno) : "cannot be opened";
    return false;
  }
  return true;
}

void TCaptureReader::Close() {
  if (FFile.is_open()) FFile.close();
  FFile.clear();
}

std::optional<std::string> TCaptureReader::NextLine() {
  if (!FFile.is_open()) return std::nullopt;
  std::string line;
  bool tooLong = false;
  // Reads by character so an endless line never grows memory past the bound.
  for (;;) {
    const int c = FFile.get();
    if (c == std::char_traits<char>::eof() || c == '\n') {
      const bool atEnd = c == std::char_traits<char>::eof();
      if (!line.empty() && line.back() == '\r') line.pop_back();
      bool blank = true;
      for (const char ch : line) blank = blank && static_cast<unsigned char>(ch) <= 32;
      if (tooLong || line.size() > FMaxLine) {
        ++FDropped;
      } else if (!blank) {
        return line;
      }
      if (atEnd) return std::nullopt;
      line.clear();
      tooLong = false;
      continue;
    }
    if (tooLong) continue;
    if (line.size() > FMaxLine) {  // one spare byte for a CR before the LF
      tooLong = true;
      line.clear();
      continue;
    }
    line += static_cast<char>(c);
  }
}

}  // namespace qm
