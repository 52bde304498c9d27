#include "host/AprsIsHostLink.h"

#include "host/HostText.h"

namespace qm {

QString TAprsIsHostLink::SettingsError() const {
  if (CleanLoginCallsign(FSettings.Callsign).empty()) return "no callsign set for the APRS-IS login";
  return TTcpHostLink::SettingsError();
}

void TAprsIsHostLink::Connected() {
  // The login is the only thing this program ever sends.
  Send(AprsIsLoginLine(FSettings.Callsign, FSettings.Filter));
}

void TAprsIsHostLink::Received(std::string_view bytes) {
  const std::size_t before = FReader.DroppedLines();
  FReader.Feed(bytes, [this](std::string_view line) {
    if (!TAprsIsLineReader::IsServerLine(line)) Deliver(MakeHostPacketText(line));
  });
  NoteDropped(FReader.DroppedLines() - before, "line longer than 512 bytes", "lines longer than 512 bytes");
}

}  // namespace qm
