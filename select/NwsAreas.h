// Which NWS alerts the operator's area list wants: entries of county or zone codes as the
// alerts name them ("OK_C109", "TX_Z123"), a trailing "*" matching every code it starts
// ("OK_C*": every county of Oklahoma), as in the station list.
#pragma once

#include <string>
#include <vector>

#include "parse/NwsAlert.h"

namespace qm {

// True when the list is empty, or when an entry (trimmed, in any case) names one of the
// alert's areas. An alert that names no area matches only the empty list.
bool AreasMatch(const TNwsAlert& alert, const std::vector<std::string>& list);

}  // namespace qm
