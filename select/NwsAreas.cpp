#include "select/NwsAreas.h"

#include <string_view>

#include "base/AsciiText.h"

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

}  // namespace

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
