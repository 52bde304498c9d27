#include "host/KissDecoder.h"

#include "base/AsciiText.h"

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

namespace {

// "CALL" or "CALL-n" split, upper-cased; nothing when it is no AX.25 callsign.
std::optional<std::pair<std::string, int>> SplitAx25Call(std::string_view call) {
  const std::string upper = UpperCase(Trim(call));
  const std::size_t dash = upper.find('-');
  const std::string base = upper.substr(0, dash);
  if (base.empty() || base.size() > 6) return std::nullopt;
  for (const char c : base)
    if (!IsCallsignChar(c)) return std::nullopt;
  int ssid = 0;
  if (dash != std::string::npos) {
    const std::string digits = upper.substr(dash + 1);
    if (digits.empty() || digits.size() > 2) return std::nullopt;
    for (const char c : digits) {
      if (c < '0' || c > '9') return std::nullopt;
      ssid = ssid * 10 + (c - '0');
    }
    if (ssid > 15) return std::nullopt;
  }
  return std::make_pair(base, ssid);
}

}  // namespace

bool IsAx25Callsign(std::string_view call) {
  return SplitAx25Call(call).has_value();
}

std::optional<std::vector<std::string>> ReadAx25Path(std::string_view text) {
  std::vector<std::string> path;
  if (Trim(text).empty()) return path;
  std::size_t from = 0;
  while (true) {
    const std::size_t comma = text.find(',', from);
    const auto call = SplitAx25Call(text.substr(from, comma - from));
    if (!call || path.size() == MaxAddresses - 2) return std::nullopt;
    path.push_back(call->second == 0 ? call->first : call->first + "-" + std::to_string(call->second));
    if (comma == std::string_view::npos) return path;
    from = comma + 1;
  }
}

std::optional<std::string> EncodeAx25UiFrame(std::string_view source, std::string_view destination,
                                             const std::vector<std::string>& path, std::string_view info) {
  if (path.size() > MaxAddresses - 2) return std::nullopt;
  std::vector<std::string_view> calls{destination, source};
  calls.insert(calls.end(), path.begin(), path.end());
  std::string frame;
  for (std::size_t i = 0; i < calls.size(); ++i) {
    const auto call = SplitAx25Call(calls[i]);
    if (!call) return std::nullopt;
    std::string field = call->first;
    field.resize(6, ' ');
    for (const char c : field) frame += static_cast<char>(static_cast<unsigned char>(c) << 1);
    // Reserved bits set, the SSID, and the end-of-address bit on the last; the destination's
    // command bit marks an AX.25 2.0 command frame; a digipeater's has-been-repeated bit is clear.
    unsigned char ssid = 0x60 | static_cast<unsigned char>(call->second << 1);
    if (i == 0) ssid |= 0x80;
    if (i + 1 == calls.size()) ssid |= 0x01;
    frame += static_cast<char>(ssid);
  }
  frame += '\x03';
  frame += '\xF0';
  frame += info;
  return frame;
}

std::string KissDataFrame(std::string_view ax25) {
  std::string kiss;
  kiss.reserve(ax25.size() + 4);
  kiss += static_cast<char>(FEND);
  kiss += '\0';
  for (const char ch : ax25) {
    const auto b = static_cast<unsigned char>(ch);
    if (b == FEND) {
      kiss += static_cast<char>(FESC);
      kiss += static_cast<char>(TFEND);
    } else if (b == FESC) {
      kiss += static_cast<char>(FESC);
      kiss += static_cast<char>(TFESC);
    } else {
      kiss += ch;
    }
  }
  kiss += static_cast<char>(FEND);
  return kiss;
}

}  // namespace qm
