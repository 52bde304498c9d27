// Which NWS alerts the operator's area list wants: entries of county or zone codes as the
// alerts name them ("OK_C109", "TX_Z123"), a trailing "*" matching every code it starts
// ("OK_C*": every county of Oklahoma), as in the station list.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "parse/NwsAlert.h"

namespace qm {

// True when the list is empty, or when an entry (trimmed, in any case) names one of the
// alert's areas. An alert that names no area matches only the empty list.
bool AreasMatch(const TNwsAlert& alert, const std::vector<std::string>& list);

// An entry as the operator may type it (any case): a whole code ("OK_C109", "TX_Z123"), or
// the start of one, at least its state, followed by "*" ("OK_C*", "OK_C1*", "TX*").
bool IsAreaListEntry(std::string_view entry);
// The sentence shown when an entry fails that check.
std::string NotAnAreaListEntryText(std::string_view entry);

// The entries of a list typed as one line, split at commas and blanks and upper-cased; the
// first one that is no entry is told in `bad` and nothing is returned.
std::optional<std::vector<std::string>> ReadAreaList(std::string_view text, std::string& bad);
// The list as that line: entries joined by ", ".
std::string AreaListText(const std::vector<std::string>& list);

}  // namespace qm
