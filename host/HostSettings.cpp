#include "host/HostSettings.h"

#include "base/AsciiText.h"
#include "base/IntegerText.h"

#include <algorithm>
#include <charconv>
#include <cmath>

namespace qm {
namespace {

struct TTransportName {
  THostSettings::TTransport Transport;
  const char* Name;
};
constexpr TTransportName kTransportNames[] = {
    {THostSettings::htReplay, "replay"},          {THostSettings::htAprsIs, "aprs-is"},
    {THostSettings::htKissTcp, "kiss-tcp"},       {THostSettings::htStationProgram, "station-program"},
    {THostSettings::htKissSerial, "kiss-serial"},
};

}  // namespace

const char* TransportName(THostSettings::TTransport transport) {
  for (const auto& t : kTransportNames)
    if (t.Transport == transport) return t.Name;
  return kTransportNames[0].Name;
}

std::optional<THostSettings::TTransport> TransportNamed(const std::string& name) {
  for (const auto& t : kTransportNames)
    if (UpperCase(name) == UpperCase(t.Name)) return t.Transport;
  return std::nullopt;
}

std::string UnknownTransportText(std::size_t index, const std::string& value) {
  std::string names;
  const std::size_t n = std::size(kTransportNames);
  for (std::size_t i = 0; i < n; ++i)
    names += (i == 0 ? "" : i + 1 == n ? " or " : ", ") + std::string(kTransportNames[i].Name);
  return "[" + connection_keys::SectionOf(index) + "] " + connection_keys::Transport + "=" + value +
         " names no transport (" + names + "); the section is skipped";
}

int THostSettings::DefaultPort(TTransport transport) {
  switch (transport) {
    case htAprsIs:
      return DefaultAprsIsPort;
    case htKissTcp:
      return DefaultKissPort;
    default:
      return 0;
  }
}

std::string THostSettings::DefaultServer(TTransport transport) {
  switch (transport) {
    case htAprsIs:
      return DefaultAprsIsServer;
    case htKissTcp:
      return DefaultKissServer;
    default:
      return {};
  }
}

int THostSettings::EffectivePort() const {
  return Port != 0 ? Port : DefaultPort(Transport);
}

std::string THostSettings::EffectiveServer() const {
  return Server.empty() ? DefaultServer(Transport) : Server;
}

std::optional<int> ReadPort(std::string_view text, bool usualAllowed) {
  const std::string trimmed = Trim(text);
  if (trimmed.empty()) return usualAllowed ? std::optional<int>(0) : std::nullopt;
  int port = 0;
  if (!TryParseDecimal(trimmed, port) || port > 65535 || (port == 0 && !usualAllowed)) return std::nullopt;
  return port;
}

std::optional<double> ReadPace(std::string_view text) {
  const std::string trimmed = Trim(text);
  double pace = 0;
  const char* end = trimmed.data() + trimmed.size();
  const auto [stop, error] = std::from_chars(trimmed.data(), end, pace);
  if (trimmed.empty() || error != std::errc() || stop != end || !std::isfinite(pace) || pace < 0)
    return std::nullopt;
  return pace;
}

std::optional<int> ReadPasscode(std::string_view text) {
  int passcode = 0;
  if (!TryParseDecimal(Trim(text), passcode) || passcode > 32767) return std::nullopt;
  return passcode;
}

bool IsAprsIsFilter(std::string_view text) {
  for (const char c : text)
    if (c < 0x20 || c > 0x7E) return false;
  return true;
}

bool IsSerialSpeed(int baud) {
  return std::find(std::begin(THostSettings::SerialSpeeds), std::end(THostSettings::SerialSpeeds), baud) !=
         std::end(THostSettings::SerialSpeeds);
}

std::string SerialSpeedRule() {
  std::string list;
  const std::size_t n = std::size(THostSettings::SerialSpeeds);
  for (std::size_t i = 0; i < n; ++i)
    list += (i == 0 ? "" : i + 1 == n ? " or " : ", ") + std::to_string(THostSettings::SerialSpeeds[i]);
  return "one of " + list + " bits a second";
}

void THostSettings::SetRfQuietMinutes(int minutes) {
  if (minutes >= 0 && minutes <= MaxRfQuietMinutes) RfQuietWarnMs = minutes * 60000;
}

std::string connection_keys::SectionOf(std::size_t index) {
  return index == 0 ? std::string(Section) : Section + std::to_string(index + 1);
}

TRetryWaits::TRetryWaits(const THostSettings& settings)
    : FFirst(std::max(1, settings.RetryFirstMs)), FMax(std::max(1, settings.RetryMaxMs)), FNext(FFirst) {}

int TRetryWaits::Next() {
  const int wait = std::min(FNext, FMax);
  FNext = FNext > FMax / 2 ? FMax : FNext * 2;
  return wait;
}

}  // namespace qm
