#include "base/AsciiText.h"

namespace qm {

std::string UpperCase(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = UpCase(c);
  return out;
}

std::string_view TrimView(std::string_view s) {
  std::size_t first = 0;
  std::size_t last = s.size();
  while (first < last && IsTrimmed(s[first])) ++first;
  while (last > first && IsTrimmed(s[last - 1])) --last;
  return s.substr(first, last - first);
}

std::string Trim(std::string_view s) {
  return std::string(TrimView(s));
}

}  // namespace qm
