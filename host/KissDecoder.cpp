#include "host/KissDecoder.h"

namespace qm {

namespace {

constexpr unsigned char FEND = 0xC0;
constexpr unsigned char FESC = 0xDB;
constexpr unsigned char TFEND = 0xDC;
constexpr unsigned char TFESC = 0xDD;

constexpr std::size_t AddressLength = 7;
constexpr std::size_t MaxAddresses = 10;  // destination, source, up to eight digipeaters

bool IsCallsignChar(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
}

// One address field as "CALL" or "CALL-n"; nothing when it is not a proper callsign.
std::optional<std::string> DecodeAddress(std::string_view field) {
  std::string call;
  bool padding = false;
  for (std::size_t i = 0; i < 6; ++i) {
    const auto byte = static_cast<unsigned char>(field[i]);
    if (byte & 0x01) return std::nullopt;  // the end-of-address bit belongs in the SSID byte only
    const char c = static_cast<char>(byte >> 1);
    if (c == ' ') {
      padding = true;
      continue;
    }
    if (padding || !IsCallsignChar(c)) return std::nullopt;
    call += c;
  }
  if (call.empty()) return std::nullopt;
  const int ssid = (static_cast<unsigned char>(field[6]) >> 1) & 0x0F;
  if (ssid != 0) call += "-" + std::to_string(ssid);
  return call;
}

}  // namespace

void TKissDecoder::Feed(std::string_view bytes, const TOnFrame& onFrame) {
  for (const char ch : bytes) {
    const auto b = static_cast<unsigned char>(ch);
    if (b == FEND) {
      EndFrame(onFrame);
      continue;
    }
    if (FBad) continue;
    char out = ch;
    if (FEscape) {
      FEscape = false;
      if (b == TFEND) {
        out = static_cast<char>(FEND);
      } else if (b == TFESC) {
        out = static_cast<char>(FESC);
      } else {
        FBad = true;
        continue;
      }
    } else if (b == FESC) {
      FEscape = true;
      continue;
    }
    if (FFrame.size() >= FMaxFrame) {
      FBad = true;
      FFrame.clear();
      continue;
    }
    FFrame += out;
  }
}

void TKissDecoder::EndFrame(const TOnFrame& onFrame) {
  // Back-to-back FENDs are idle fill, not frames.
  const bool empty = FFrame.empty() && !FBad && !FEscape;
  const bool bad = FBad || FEscape;
  std::string frame;
  frame.swap(FFrame);
  FBad = false;
  FEscape = false;
  if (empty) return;
  if (bad || (static_cast<unsigned char>(frame[0]) & 0x0F) != 0) {
    ++FDropped;
    return;
  }
  if (onFrame) onFrame(static_cast<unsigned char>(frame[0]) >> 4, std::string_view(frame).substr(1));
}

void TKissDecoder::Reset() {
  FFrame.clear();
  FEscape = false;
  FBad = false;
}

std::optional<std::string> DecodeAx25UiFrame(std::string_view ax25) {
  std::size_t count = 0;
  bool last = false;
  while (!last) {
    if (count == MaxAddresses || ax25.size() < (count + 1) * AddressLength) return std::nullopt;
    last = static_cast<unsigned char>(ax25[(count + 1) * AddressLength - 1]) & 0x01;
    ++count;
  }
  if (count < 2) return std::nullopt;
  const std::size_t headerEnd = count * AddressLength;
  if (ax25.size() < headerEnd + 2) return std::nullopt;
  const auto control = static_cast<unsigned char>(ax25[headerEnd]);
  const auto pid = static_cast<unsigned char>(ax25[headerEnd + 1]);
  if ((control & ~0x10) != 0x03 || pid != 0xF0) return std::nullopt;

  std::string calls[MaxAddresses];
  std::size_t lastRepeated = 0;  // 0 = none; digipeaters are addresses 2 and up
  for (std::size_t i = 0; i < count; ++i) {
    const auto field = ax25.substr(i * AddressLength, AddressLength);
    auto call = DecodeAddress(field);
    if (!call) return std::nullopt;
    calls[i] = std::move(*call);
    if (i >= 2 && (static_cast<unsigned char>(field[6]) & 0x80)) lastRepeated = i;
  }

  std::string text = calls[1] + ">" + calls[0];
  for (std::size_t i = 2; i < count; ++i) {
    text += "," + calls[i];
    if (i == lastRepeated) text += '*';
  }
  text += ':';
  text += ax25.substr(headerEnd + 2);
  return text;
}

}  // namespace qm
