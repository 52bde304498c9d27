#include "select/NwsAreas.h"

#include <algorithm>
#include <string_view>

#include "base/AsciiText.h"
#include "parse/CallsignText.h"

namespace qm {

namespace {

// code (upper case) equals the entry, or starts with what stands before the entry's "*".
bool EntryNames(std::string_view entry, std::string_view code) {
  const std::size_t star = entry.find('*');
  const std::string_view wanted = entry.substr(0, star);
  if (star == std::string_view::npos ? code.size() != wanted.size() : code.size() < wanted.size())
    return false;
  for (std::size_t i = 0; i < wanted.size(); ++i) {
    if (code[i] != UpCase(wanted[i])) return false;
  }
  return true;
}

// What stands at each place of a code: the state's letters, "_", the type, three digits.
bool FitsCodeAt(std::size_t i, char c) {
  if (i < 2) return c >= 'A' && c <= 'Z';
  if (i == 2) return c == '_';
  if (i == 3) return c == 'C' || c == 'Z';
  return i < 7 && IsDigit(c);
}

constexpr std::size_t kCodeLength = 7;  // "OK_C109"

}  // namespace

bool IsAreaListEntry(std::string_view entry) {
  const bool star = !entry.empty() && entry.back() == '*';
  const std::string_view start = star ? entry.substr(0, entry.size() - 1) : entry;
  if (star ? start.size() < 2 : start.size() != kCodeLength) return false;
  for (std::size_t i = 0; i < start.size(); ++i)
    if (!FitsCodeAt(i, UpCase(start[i]))) return false;
  return true;
}

std::string NotAnAreaListEntryText(std::string_view entry) {
  return "\"" + ShownTypedText(entry) +
         "\" is no NWS area: give a county or zone code such as OK_C109 or TX_Z123, or its start "
         "and * (OK_C*)";
}

std::optional<std::vector<std::string>> ReadAreaList(std::string_view text, std::string& bad) {
  std::vector<std::string> list;
  std::size_t at = 0;
  while (at < text.size()) {
    const std::size_t end = std::min(text.find_first_of(", \t", at), text.size());
    const std::string entry = UpperCase(text.substr(at, end - at));
    at = end + 1;
    if (entry.empty()) continue;
    if (!IsAreaListEntry(entry)) {
      bad = entry;
      return std::nullopt;
    }
    list.push_back(entry);
  }
  return list;
}

std::string AreaListText(const std::vector<std::string>& list) {
  std::string text;
  for (const std::string& entry : list) text += (text.empty() ? "" : ", ") + entry;
  return text;
}

bool AreasMatch(const TNwsAlert& alert, const std::vector<std::string>& list) {
  if (list.empty()) return true;
  for (const TNwsArea& area : alert.Areas) {
    const std::string code = NwsAreaCode(area);
    for (const std::string& entry : list) {
      const std::string_view e = TrimView(entry);
      if (!e.empty() && EntryNames(e, code)) return true;
    }
  }
  return false;
}

}  // namespace qm
