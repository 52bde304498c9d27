#include "host/AprsIsLineReader.h"

namespace qm {

void TAprsIsLineReader::Feed(std::string_view bytes, const TOnLine& onLine) {
  while (!bytes.empty()) {
    const auto end = bytes.find_first_of("\r\n");
    const auto part = bytes.substr(0, end);
    if (!FTooLong) {
      if (FLine.size() + part.size() > FMaxLine) {
        FTooLong = true;
        FLine.clear();
        FLine.shrink_to_fit();
      } else {
        FLine += part;
      }
    }
    if (end == std::string_view::npos) return;
    bytes.remove_prefix(end + 1);
    if (FTooLong) {
      ++FDropped;
      FTooLong = false;
    } else if (!FLine.empty()) {
      std::string line;
      line.swap(FLine);
      if (onLine) onLine(line);
    }
  }
}

void TAprsIsLineReader::Reset() {
  FLine.clear();
  FTooLong = false;
}

}  // namespace qm
