#include "select/Answering.h"

#include "base/AsciiText.h"
#include "parse/CallsignText.h"

namespace qm {
namespace {

bool IsAlnum(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
}

bool AllAlnum(std::string_view text, std::size_t least, std::size_t most) {
  if (text.size() < least || text.size() > most) return false;
  for (const char c : text)
    if (!IsAlnum(c)) return false;
  return true;
}

constexpr std::uint32_t kMinuteMs = 60000;

}  // namespace

bool IsTransmitCallsign(std::string_view call) {
  return TransmitCallsignProblem(call).empty();
}

std::string TransmitCallsignProblem(std::string_view call) {
  const std::string upper = UpperCase(call);
  const std::size_t dash = upper.find('-');
  const std::string_view base = std::string_view(upper).substr(0, dash);
  bool letter = false, digit = false;
  for (const char c : base) (c >= '0' && c <= '9' ? digit : letter) = true;
  if (base == "N0CALL" || base == "NOCALL") return std::string(base) + " is a placeholder, no one's callsign";
  if (!AllAlnum(base, 3, 6) || !letter || !digit)
    return "a callsign is 3 to 6 letters and digits with both among them";
  if (dash == std::string::npos) return {};
  const std::string_view ssid = std::string_view(upper).substr(dash + 1);
  int n = 0;
  for (const char c : ssid) n = c >= '0' && c <= '9' && n <= 15 ? n * 10 + (c - '0') : 99;
  if (ssid == "0") return "SSID 0 is written without it, as " + std::string(base);
  if (ssid.empty() || ssid.size() > 2 || ssid.front() == '0' || n < 1 || n > 15)
    return "an AX.25 frame carries an SSID from 0 to 15 only";
  return {};
}

bool IsMessageNumber(std::string_view number) {
  const std::size_t brace = number.find('}');
  if (brace == std::string_view::npos) return AllAlnum(number, 1, 5);
  return AllAlnum(number.substr(0, brace), 1, 5) && AllAlnum(number.substr(brace + 1), 0, 5);
}

std::optional<std::string> AckNumberFor(const TAprsMsgPacket& packet, std::string_view ownCall) {
  if (!IsTransmitCallsign(ownCall)) return std::nullopt;
  return AckNumberAsked(packet, ownCall);
}

std::optional<std::string> AckNumberAsked(const TAprsMsgPacket& packet, std::string_view ownCall) {
  if (packet.Kind != mkPersonal || ownCall.empty() || packet.Addressee != ownCall) return std::nullopt;
  // An acknowledgement goes to a station; a sender that is no callsign cannot be one.
  const std::string& sender = packet.Source.FullCall;
  if (!IsCallsign(sender) || sender == ownCall) return std::nullopt;
  if (!IsMessageNumber(packet.MessageId)) return std::nullopt;
  return packet.MessageId;
}

std::string AddresseeInformation(std::string_view addressee) {
  std::string info = ":";
  info += addressee.substr(0, 9);
  info.append(9 - std::min<std::size_t>(addressee.size(), 9), ' ');
  info += ':';
  return info;
}

std::string AckInformation(std::string_view addressee, std::string_view number) {
  return AddresseeInformation(addressee) + "ack" + std::string(number);
}

TAckLimiter::TVerdict TAckLimiter::Ask(std::string_view sender, std::string_view number, std::uint32_t now) {
  Forget(now);
  std::string key = UpperCase(sender);
  key += '\0';
  key += number;
  const auto last = FLastSent.find(key);
  if (last != FLastSent.end() && now - last->second < PairGapMs) return avAnsweredJustNow;
  if (FSent.size() >= PerMinute) return avOverTheMinute;
  FLastSent[key] = now;
  FSent.push_back(now);
  return avSend;
}

bool TAckLimiter::AskOwnMessage(std::uint32_t now) {
  Forget(now);
  if (FSent.size() >= PerMinute) return false;
  FSent.push_back(now);
  return true;
}

void TAckLimiter::Forget(std::uint32_t now) {
  while (!FSent.empty() && now - FSent.front() >= kMinuteMs) FSent.pop_front();
  // The pairs are few (at most PerMinute a minute); those past their gap go.
  for (auto it = FLastSent.begin(); it != FLastSent.end();)
    it = now - it->second >= PairGapMs ? FLastSent.erase(it) : std::next(it);
}

}  // namespace qm
