#include "parse/NwsWords.h"

#include <algorithm>
#include <array>
#include <utility>
#include <vector>

#include "base/AsciiText.h"
#include "base/Timing.h"
#include "parse/UsCounties.h"

namespace qm {

namespace {

constexpr std::size_t kNamedAreas = 10;

// The codes whose words are not simply their parts.
constexpr std::array<std::pair<std::string_view, std::string_view>, 8> kEventWords = {{
    {"CANCL", "Cancellation"},
    {"FLASHFLOOD", "Flash Flood"},
    {"SVRTSM", "Severe Thunderstorm"},
    {"SVRTSTORM", "Severe Thunderstorm"},
    {"SVR_TSTORM", "Severe Thunderstorm"},
    {"TORNDO", "Tornado"},
    {"TSTM", "Thunderstorm"},
    {"TSTORM", "Thunderstorm"},
}};

struct TCounty {
  std::string_view State;
  int Number = 0;
  std::string_view Name;
};

bool Before(const TCounty& a, std::string_view state, int number) {
  return a.State != state ? a.State < state : a.Number < number;
}

// "OK,40,109,Oklahoma County,H1" as (OK, 109, Oklahoma County); false for another line.
bool ReadCountyLine(std::string_view line, TCounty& county) {
  std::array<std::string_view, 4> fields;
  for (std::string_view& field : fields) {
    const std::size_t comma = line.find(',');
    if (comma == std::string_view::npos) return false;
    field = line.substr(0, comma);
    line.remove_prefix(comma + 1);
  }
  const std::string_view number = fields[2];
  if (fields[0].size() != 2 || number.size() != 3 || !std::all_of(number.begin(), number.end(), IsDigit))
    return false;
  county = {fields[0], (number[0] - '0') * 100 + (number[1] - '0') * 10 + (number[2] - '0'), fields[3]};
  return true;
}

const std::vector<TCounty>& Counties() {
  static const std::vector<TCounty> counties = [] {
    std::vector<TCounty> list;
    list.reserve(UsCountyLines().size());
    for (const std::string_view line : UsCountyLines()) {
      TCounty county;
      if (ReadCountyLine(line, county)) list.push_back(county);
    }
    std::sort(list.begin(), list.end(),
              [](const TCounty& a, const TCounty& b) { return Before(a, b.State, b.Number); });
    return list;
  }();
  return counties;
}

}  // namespace

std::string NwsEventWords(std::string_view event) {
  const std::string code = UpperCase(event);
  for (const auto& [known, words] : kEventWords) {
    if (code == known) return std::string(words);
  }
  std::string words;
  words.reserve(code.size());
  bool wordStart = true;
  for (const char c : code) {
    if (c == '_') {
      if (!wordStart) words += ' ';
      wordStart = true;
      continue;
    }
    words += wordStart || !(c >= 'A' && c <= 'Z') ? c : static_cast<char>(c - 'A' + 'a');
    wordStart = false;
  }
  while (!words.empty() && words.back() == ' ') words.pop_back();
  return words;
}

std::string NwsHeadline(const TNwsAlert& alert) {
  std::string headline = NwsEventWords(alert.Event);
  const auto add = [&headline](std::string_view word) {
    if (!headline.empty()) headline += ' ';
    headline += word;
  };
  switch (alert.Category) {
    case acWarning:
      add("Warning");
      break;
    case acWatch:
      add("Watch");
      break;
    case acAdvisory:
      add("Advisory");
      break;
    case acCancel:
      add(headline.empty() ? "Cancellation" : "cancelled");
      break;
    case acOther:
      if (headline.empty()) add("NWS alert");
      break;
  }
  return headline;
}

std::optional<std::string_view> UsCountyName(std::string_view state, int number) {
  const std::vector<TCounty>& counties = Counties();
  const auto it =
      std::lower_bound(counties.begin(), counties.end(), std::pair(state, number),
                       [](const TCounty& c, const auto& key) { return Before(c, key.first, key.second); });
  if (it == counties.end() || it->State != state || it->Number != number) return std::nullopt;
  return it->Name;
}

std::string NwsAreaWords(const TNwsArea& area) {
  if (area.Type == 'C') {
    if (const std::optional<std::string_view> name = UsCountyName(area.State, area.Number))
      return std::string(*name) + ", " + area.State;
    return "county " + NwsAreaCode(area);
  }
  return "zone " + NwsAreaCode(area);
}

std::string NwsAlertWords(const TNwsAlert& alert) {
  std::string words = NwsHeadline(alert);
  if (!alert.Areas.empty()) {
    words += kNwsWordsDash;
    const std::size_t named = std::min(alert.Areas.size(), kNamedAreas);
    for (std::size_t i = 0; i < named; ++i) {
      if (i > 0) words += "; ";
      words += NwsAreaWords(alert.Areas[i]);
    }
    if (alert.Areas.size() > named || alert.AreasCut) {
      words += " and ";
      words += alert.AreasCut ? "more" : std::to_string(alert.Areas.size() - named) + " more";
    }
  }
  if (alert.ExpiresUtc) {
    words += kNwsWordsDash;
    words += "until " + FormatDateTime("hh:nn", *alert.ExpiresUtc) + " UTC";
  }
  return words;
}

}  // namespace qm
