#include "parse/HostIntake.h"

#include "base/AsciiText.h"

namespace qm {

std::string CleanPacketText(std::string_view hostText) {
  std::string_view v = hostText;
  if (!v.empty()) v.remove_prefix(1);  // the station program's marker
  if (v.size() >= 3 && IsDigit(v[0]) && v[2] == ':') {
    // A port or time word: the same cut as SplitFirstToken(text, " ", word), with the
    // word dropped, done on a view so that no copy is made of what is thrown away.
    const std::size_t blank = v.find(' ');
    v = blank == std::string_view::npos ? std::string_view() : TrimView(v.substr(blank + 1));
  }
  // Carriage returns and line feeds go wherever they stand, without leaving a blank.
  // Two single-character searches: find_first_of would test the set at every byte.
  if (v.find('\r') == std::string_view::npos && v.find('\n') == std::string_view::npos)
    return std::string(v);  // built in one step, not assigned into an empty string
  std::string text;
  text.reserve(v.size());
  for (char c : v)
    if (c != '\r' && c != '\n') text.push_back(c);
  return text;
}

std::string_view UnwrapThirdParty(std::string_view line) {
  // The header holds no ":", so the first one starts the information field.
  const auto colon = line.find(':');
  if (colon == std::string_view::npos || colon + 1 >= line.size() || line[colon + 1] != '}') return line;
  return line.substr(colon + 2);
}

std::string IntakePacketLine(std::string_view hostText) {
  std::string line = CleanPacketText(hostText);
  const std::size_t header = line.size() - UnwrapThirdParty(line).size();
  if (header > 0) line.erase(0, header);
  return line;
}

}  // namespace qm
