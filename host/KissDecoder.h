// KISS framing from a TNC byte stream, and AX.25 UI frames as monitor text.
#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qm {

class TKissDecoder {
 public:
  static constexpr std::size_t DefaultMaxFrame = 2048;

  // maxFrame bounds one unescaped frame; a longer one is dropped up to its closing FEND.
  explicit TKissDecoder(std::size_t maxFrame = DefaultMaxFrame) : FMaxFrame(maxFrame) {}

  using TOnFrame = std::function<void(int port, std::string_view ax25)>;

  // Takes bytes as they arrive (any split); calls onFrame for each complete data frame
  // (command 0, any port) with the frame after its command byte. Other commands, frames with
  // a bad escape and over-long frames are dropped and counted.
  void Feed(std::string_view bytes, const TOnFrame& onFrame);

  // Forgets a half-received frame (after a reconnect).
  void Reset();

  std::size_t DroppedFrames() const { return FDropped; }

 private:
  void EndFrame(const TOnFrame& onFrame);

  std::size_t FMaxFrame;
  std::string FFrame;
  bool FEscape = false;
  bool FBad = false;
  std::size_t FDropped = 0;
};

// "SRC>DST,DIGI1,DIGI2*:info" for an AX.25 UI frame (control 03, also with the poll bit, and
// PID F0) without FCS; "*" follows the last digipeater whose has-been-repeated bit is set.
// Nothing for any other frame or a malformed address field.
std::optional<std::string> DecodeAx25UiFrame(std::string_view ax25);

// A callsign an AX.25 address field can carry: 1 to 6 letters and digits (any case), an SSID
// from 0 to 15 if any.
bool IsAx25Callsign(std::string_view call);

// The digipeater path as the operator writes it ("WIDE1-1,WIDE2-1"; blanks around the calls
// are ignored, an empty text is no path): the calls as a frame carries them ("wide2-01" is
// "WIDE2-1", "RELAY-0" "RELAY"), or nothing when one is no AX.25 callsign or there are more
// than eight.
std::optional<std::vector<std::string>> ReadAx25Path(std::string_view text);

// An AX.25 UI frame (control 03, PID F0, no FCS) from `source` to `destination` by `path`
// carrying `info`; nothing when a call cannot be an AX.25 address.
std::optional<std::string> EncodeAx25UiFrame(std::string_view source, std::string_view destination,
                                             const std::vector<std::string>& path, std::string_view info);

// A KISS data frame for port 0: FEND, command 00, the escaped bytes, FEND.
std::string KissDataFrame(std::string_view ax25);

}  // namespace qm
