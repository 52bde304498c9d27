#include "select/Selection.h"

#include <optional>

#include "parse/NwsAlert.h"
#include "select/NwsAreas.h"

namespace qm {

namespace {

// s equals UpperCase(entry), without building the upper-cased copy.
bool EqualsUpper(std::string_view s, std::string_view entry) {
  if (s.size() != entry.size()) return false;
  for (std::size_t i = 0; i < s.size(); ++i) {
    if (s[i] != UpCase(entry[i])) return false;
  }
  return true;
}

// The first n characters of s (all of s when shorter) equal prefix, which is n long.
bool StartsWithUpper(std::string_view s, std::string_view prefix) {
  return s.size() >= prefix.size() && EqualsUpper(s.substr(0, prefix.size()), prefix);
}

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (UpCase(a[i]) != UpCase(b[i])) return false;
  }
  return true;
}

bool IsWantedPersonal(const TAprsMsgPacket& packet, const TSelectionChoices& choices) {
  const std::string& from = packet.Source.FullCall;
  const std::string& to = packet.Addressee;
  if (choices.ThisStation && (from == choices.StationCall || to == choices.StationCall)) return true;
  if (!choices.UseStationList) return false;
  for (const std::string& entry : choices.StationList) {
    if (EqualsUpper(from, entry) || EqualsUpper(to, entry)) return true;
    const std::size_t star = entry.find('*');
    if (star != std::string::npos) {
      const std::string_view prefix = std::string_view(entry).substr(0, star);
      if (StartsWithUpper(from, prefix) || StartsWithUpper(to, prefix)) return true;
    }
  }
  return false;
}

// An alert of a checked state against the area list. One whose areas cannot be read, or
// were not all read, stays wanted: an unread area may be the operator's own county, and a
// warning missed costs more than one printed needlessly.
bool IsWantedArea(const TAprsMsgPacket& packet, const std::vector<std::string>& areas) {
  if (areas.empty()) return true;
  const std::optional<TNwsAlert> alert = ReadNwsAlert(packet);
  if (!alert || alert->Areas.empty() || alert->AreasCut) return true;
  return AreasMatch(*alert, areas);
}

bool IsWantedNwsAlert(const TAprsMsgPacket& packet, const TSelectionChoices& choices) {
  bool wanted = false;
  switch (NwsCategoryOf(packet)) {
    case ncWatch:
      wanted = choices.NwsWatches;
      break;
    case ncWarning:
      wanted = choices.NwsWarnings;
      break;
    case ncAdvisory:
      wanted = choices.NwsAdvisories;
      break;
    case ncNone:
      break;
  }
  if (!wanted) return false;
  for (const auto& [code, checked] : choices.States) {
    if (EqualsIgnoringCase(code, packet.State)) return checked && IsWantedArea(packet, choices.NwsAreas);
  }
  return false;
}

}  // namespace

std::vector<std::pair<std::string, bool>> DefaultStateList() {
  std::vector<std::pair<std::string, bool>> states;
  states.reserve(kStateCodes.size());
  for (std::string_view code : kStateCodes) states.emplace_back(std::string(code), false);
  return states;
}

TNwsCategory NwsCategoryOf(const TAprsMsgPacket& packet) {
  const std::string_view addressee = TrimView(packet.Addressee);
  if (addressee == "NWS-WATCH") return ncWatch;
  if (addressee == "NWS-WARN") return ncWarning;
  if (addressee == "NWS-ADVIS") return ncAdvisory;
  return ncNone;
}

const char* NwsCategoryAddressee(TNwsCategory category) {
  switch (category) {
    case ncWatch:
      return "NWS-WATCH";
    case ncWarning:
      return "NWS-WARN";
    case ncAdvisory:
      return "NWS-ADVIS";
    case ncNone:
      break;
  }
  return nullptr;
}

bool IsWantedMessage(const TAprsMsgPacket& packet, const TSelectionChoices& choices) {
  switch (packet.Kind) {
    case mkPersonal:
      return IsWantedPersonal(packet, choices);
    case mkBulletin:
      return choices.Bulletins;
    case mkAnnouncement:
      return choices.Announcements;
    case mkNwsAlert:
      return IsWantedNwsAlert(packet, choices);
    case mkNone:
      break;
  }
  return false;
}

}  // namespace qm
