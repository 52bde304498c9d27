// KISS framing and AX.25 UI decoding on arbitrary TNC bytes, split where the input says.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "host/HostText.h"
#include "host/KissDecoder.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  // The first byte chooses the read size, so frames straddle reads in every way.
  const std::size_t chunk = 1 + data[0] % 64;
  std::string_view rest(reinterpret_cast<const char*>(data) + 1, size - 1);
  qm::TKissDecoder decoder(512);
  while (!rest.empty()) {
    const auto part = rest.substr(0, chunk);
    rest.remove_prefix(part.size());
    decoder.Feed(part, [](int port, std::string_view ax25) {
      if (port < 0 || port > 15 || ax25.size() > 512) std::abort();
      if (const auto line = qm::DecodeAx25UiFrame(ax25)) {
        // A decoded header is callsigns and separators; its information field follows the first ":".
        const auto colon = line->find(':');
        if (colon == std::string::npos || line->find('>') > colon) std::abort();
        const auto text = qm::MakeHostPacketText(*line, "12:00:00");
        if (text.size() > line->size() + 10) std::abort();
      }
    });
  }
  // The raw input as one AX.25 frame, too.
  (void)qm::DecodeAx25UiFrame(std::string_view(reinterpret_cast<const char*>(data), size));
  return 0;
}
