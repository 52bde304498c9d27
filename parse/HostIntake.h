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

}  // namespace qm
