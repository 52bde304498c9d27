// What the window's intake makes of a packet text, for checking the host link's output.
#pragma once

#include <regex>
#include <string>

namespace qm::test {

// The first character and a leading time (or port) word go, as the intake drops them.
inline std::string IntakeLine(const std::string& text) {
  std::string s = text.empty() ? text : text.substr(1);
  if (s.size() >= 3 && s[0] >= '0' && s[0] <= '9' && s[2] == ':') {
    const auto blank = s.find(' ');
    s = blank == std::string::npos ? std::string() : s.substr(blank + 1);
  }
  return s;
}

// Empty when text is "*", then "hh:mm:ss " exactly when timeWord, then line; else what differs.
inline std::string StationFormError(const std::string& text, const std::string& line, bool timeWord) {
  static const std::regex withTime(R"(^\*\d\d:\d\d:\d\d [^ ].*)");
  if (text.empty() || text[0] != '*') return "no '*' marker: " + text;
  if (std::regex_match(text.substr(0, 11), withTime) != timeWord)
    return std::string(timeWord ? "no" : "unexpected") + " time word: " + text;
  if (IntakeLine(text) != line)
    return "packet line differs: got '" + IntakeLine(text) + "', want '" + line + "'";
  return {};
}

}  // namespace qm::test
