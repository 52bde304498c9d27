// Cleaning of the packet text the station program hands over, down to the bare packet
// line the parser reads.
#pragma once

#include <string>
#include <string_view>

namespace qm {

// The station program's text is one marker character, optionally a port or time word
// ("hh:mm:ss") and a blank, then "SRC>DST,PATH:info", perhaps with line ends.
// Drops the marker; when what is left begins with a digit and has ":" as its third
// character, drops the first word (and with no blank at all, everything), trimming the
// rest; then removes every CR and every LF wherever they stand.
std::string CleanPacketText(std::string_view hostText);

// The text after "}" when the packet's information field starts a third-party packet
// (an IGate or a gateway relaying another station's packet), else the line as it stands.
// One layer comes off.
std::string_view UnwrapThirdParty(std::string_view line);

// What every source's packet text is read as: cleaned, and a third-party packet as the
// packet it carries.
std::string IntakePacketLine(std::string_view hostText);

}  // namespace qm
