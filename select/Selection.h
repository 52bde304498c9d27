// The verdict on one usable packet: does the operator want this message?
#pragma once

#include <array>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "base/AsciiText.h"
#include "parse/QuillmarkParse.h"

namespace qm {

// The 52 state and territory codes of the state check list, in its sorted order.
inline constexpr std::array<std::string_view, 52> kStateCodes = {
    "AK", "AL", "AR", "AZ", "CA", "CO", "CT", "DE", "FL", "GA", "HI", "IA", "ID",
    "IL", "IN", "KS", "KY", "LA", "MA", "MD", "ME", "MI", "MN", "MO", "MS", "MT",
    "NC", "ND", "NE", "NH", "NJ", "NM", "NV", "NY", "OH", "OK", "OR", "PA", "PR",
    "RI", "SC", "SD", "TN", "TX", "UT", "VA", "VI", "VT", "WA", "WI", "WV", "WY"};

// (code, checked) for every code of kStateCodes, all unchecked.
std::vector<std::pair<std::string, bool>> DefaultStateList();

// The control values at the moment a packet is judged; defaults are the window's start values.
struct TSelectionChoices {
  bool ThisStation = true;
  std::string StationCall;  // own call, upper case; empty until the host has told it
  bool UseStationList = false;
  std::vector<std::string> StationList;  // entries as typed, in the order added
  bool Bulletins = false;
  bool Announcements = false;
  bool NwsWatches = false;
  bool NwsWarnings = false;
  bool NwsAdvisories = false;
  std::vector<std::pair<std::string, bool>> States = DefaultStateList();
  // County and zone codes ("OK_C109", "OK_C*"); while it holds entries, an alert of a checked
  // state is wanted only when one of its areas is named here (select/NwsAreas.h).
  std::vector<std::string> NwsAreas;
};

// The three NWS alert categories, told apart by the trimmed addressee (exact case).
enum class TNwsCategory : std::uint8_t { ncNone = 0, ncWatch, ncWarning, ncAdvisory };
using enum TNwsCategory;
TNwsCategory NwsCategoryOf(const TAprsMsgPacket& packet);
// "NWS-WATCH", "NWS-WARN", "NWS-ADVIS"; nullptr for ncNone.
const char* NwsCategoryAddressee(TNwsCategory category);

// Whether a usable packet (Selected after parsing) is wanted by kind and choices.
// The caller skips unusable packets before asking and stores the answer in Selected.
bool IsWantedMessage(const TAprsMsgPacket& packet, const TSelectionChoices& choices);

}  // namespace qm
