// Packet text in the form the station program hands it over, and the APRS-IS login line.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace qm {

// Marker put in front of every packet the portable transports hand over.
inline constexpr char HostPacketMarker = '*';

// marker, then "hh:mm:ss " when a time word is given, then the packet line.
std::string MakeHostPacketText(std::string_view line, std::string_view timeWord = {});

// The local time of day as the station program's monitor shows it: "hh:mm:ss".
std::string HostTimeWord();

// What a KISS TNC's AX.25 frame hands over: a UI frame as monitor text with the local time
// word (a third-party packet as it came: the desk's intake unwraps every source's alike);
// nothing for any other frame.
std::optional<std::string> Ax25FramePacketText(std::string_view ax25);

// Callsign for a login: control characters and blanks removed, a to z upper-cased.
std::string CleanLoginCallsign(std::string_view callsign);

// "user CALL pass -1 vers Quillmark M.m.r[ filter F]\r\n": read-only, one line whatever the
// input holds (control characters are removed from the filter).
std::string AprsIsLoginLine(std::string_view callsign, std::string_view filter);

}  // namespace qm
