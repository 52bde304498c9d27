#include "host/HostText.h"

#include "base/AsciiText.h"
#include "base/Timing.h"
#include "generated/QuillmarkVersion.h"
#include "host/KissDecoder.h"

namespace qm {

std::string MakeHostPacketText(std::string_view line, std::string_view timeWord) {
  std::string text;
  text.reserve(line.size() + timeWord.size() + 2);
  text += HostPacketMarker;
  if (!timeWord.empty()) {
    text += timeWord;
    text += ' ';
  }
  text += line;
  return text;
}

std::string HostTimeWord() {
  return FormatDateTime("hh:nn:ss", CurrentDateTime(tfLocal));
}

std::optional<std::string> Ax25FramePacketText(std::string_view ax25) {
  const auto line = DecodeAx25UiFrame(ax25);
  if (!line) return std::nullopt;
  return MakeHostPacketText(*line, HostTimeWord());
}

std::string CleanLoginCallsign(std::string_view callsign) {
  std::string out;
  for (const char c : callsign) {
    const auto u = static_cast<unsigned char>(c);
    if (u <= 32 || u == 127) continue;
    out += (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
  }
  return out;
}

std::string AprsIsLoginLine(std::string_view callsign, std::string_view filter, int passcode) {
  std::string line = "user " + CleanLoginCallsign(callsign) + " pass " + std::to_string(passcode) +
                     " vers Quillmark " + version::ReleaseText;
  std::string cleanFilter;
  for (const char c : filter) {
    const auto u = static_cast<unsigned char>(c);
    if (u >= 32 && u != 127) cleanFilter += c;
  }
  // Blanks at the ends would only make an empty or odd-looking filter word.
  while (!cleanFilter.empty() && cleanFilter.front() == ' ') cleanFilter.erase(0, 1);
  while (!cleanFilter.empty() && cleanFilter.back() == ' ') cleanFilter.pop_back();
  if (!cleanFilter.empty()) line += " filter " + cleanFilter;
  line += "\r\n";
  return line;
}

std::string AprsIsOwnPacketLine(std::string_view callsign, std::string_view info) {
  std::string line = CleanLoginCallsign(callsign) + ">" + OwnToCall + ",TCPIP*:";
  line += info;
  line += "\r\n";
  return line;
}

TLoginAnswer ReadLoginAnswer(std::string_view line, std::string_view callsign) {
  // "# logresp CALL verified, server NAME"; aprsc and javAPRSSrvr both say it so.
  constexpr std::string_view head = "# logresp ";
  if (line.substr(0, head.size()) != head) return laNone;
  line.remove_prefix(head.size());
  const std::size_t blank = line.find(' ');
  if (blank == std::string_view::npos || UpperCase(line.substr(0, blank)) != CleanLoginCallsign(callsign))
    return laNone;
  const std::string_view word = line.substr(blank + 1, line.find_first_of(", ", blank + 1) - blank - 1);
  if (word == "verified") return laVerified;
  if (word == "unverified") return laUnverified;
  return laNone;
}

}  // namespace qm
