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

// "user CALL pass P vers Quillmark M.m.r[ filter F]\r\n", one line whatever the input holds
// (control characters are removed from the filter). Passcode -1 is a read-only login.
std::string AprsIsLoginLine(std::string_view callsign, std::string_view filter, int passcode = -1);

// The experimental destination ("tocall") this program's own packets carry.
inline constexpr const char* OwnToCall = "APZQMK";

// A packet of this station for APRS-IS: "CALL>APZQMK,TCPIP*:info\r\n".
std::string AprsIsOwnPacketLine(std::string_view callsign, std::string_view info);

// What the server said of the login, from its "# logresp CALL verified, server NAME" line.
enum class TLoginAnswer { laNone, laVerified, laUnverified };
using enum TLoginAnswer;
// laNone for every other line, and for an answer about another call (case ignored).
TLoginAnswer ReadLoginAnswer(std::string_view line, std::string_view callsign);

}  // namespace qm
