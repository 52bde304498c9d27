// What the operator may type as a callsign or as an entry of the station list.
#pragma once

#include <string>
#include <string_view>

namespace qm {

// A callsign as APRS knows it: 1 to 9 letters and digits, then at most one "-SSID" of 1 or 2
// letters and digits ("N0CALL", "AE5PL-10", "EOC-WX"). Case does not matter.
bool IsCallsign(std::string_view text);

// A station-list entry as typed and trimmed: anything but nothing, "*" alone (both are passed
// over without a word) and text with a control character, which would break the list and the
// settings file. Callsigns, tactical names ("EOC-ALPHA") and stars anywhere ("NO*ALL") are fine.
bool IsStationListEntry(std::string_view text);

// Typed text as a sentence about it shows it: each control character as "?".
std::string ShownTypedText(std::string_view text);

// The sentences shown when a text fails the checks above.
std::string NotACallsignText(std::string_view text);
std::string NotAStationListEntryText(std::string_view text);

}  // namespace qm
