// An NWS alert in plain words: "Severe Thunderstorm Warning — Oklahoma County, OK — until
// 19:30 UTC". Counties are named from the Census Bureau's county list (data/us-counties.txt);
// zones, which that list does not hold, are shown by code.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "parse/NwsAlert.h"

namespace qm {

// What stands between the parts of an alert's words: an em dash (UTF-8) between blanks.
inline constexpr std::string_view kNwsWordsDash = " \xE2\x80\x94 ";

// "SVR_TSTORM" → "Severe Thunderstorm"; a code not in the table reads as its words in
// capitals and small letters ("WINTER_WEATHER" → "Winter Weather").
std::string NwsEventWords(std::string_view event);

// The event's words with the category's: "Severe Thunderstorm Warning", "Tornado Watch",
// "Flood cancelled"; the event alone for another category.
std::string NwsHeadline(const TNwsAlert& alert);

// The county's name ("Oklahoma County") for a state code and FIPS county number.
std::optional<std::string_view> UsCountyName(std::string_view state, int number);

// "Oklahoma County, OK"; "county OK_C999" when the list has no such county; "zone TX_Z123".
std::string NwsAreaWords(const TNwsArea& area);

// The headline, the areas (at most ten named, then how many more) and the expiry's time.
std::string NwsAlertWords(const TNwsAlert& alert);

}  // namespace qm
