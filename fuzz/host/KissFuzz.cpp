// KISS framing and AX.25 UI decoding on arbitrary TNC bytes, split where the input says.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
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
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  (void)qm::DecodeAx25UiFrame(input);
  // The input as the operator's path: a path read is one the frame carries and that reads back.
  const std::string_view pathText = input.substr(0, input.find(':'));
  if (const auto path = qm::ReadAx25Path(pathText)) {
    const auto frame = qm::EncodeAx25UiFrame("Q1ABC-7", "APZQMK", *path, ":K2XYZ    :ack1");
    if (!frame) std::abort();
    std::string expected = "Q1ABC-7>APZQMK";
    for (const std::string& call : *path) expected += "," + call;
    expected += "::K2XYZ    :ack1";
    const auto back = qm::DecodeAx25UiFrame(*frame);
    if (!back || *back != expected) std::abort();
    // Through KISS and back, the frame is the same bytes.
    qm::TKissDecoder kiss;
    int frames = 0;
    kiss.Feed(qm::KissDataFrame(*frame), [&](int port, std::string_view ax25) {
      if (port != 0 || ax25 != *frame) std::abort();
      ++frames;
    });
    if (frames != 1) std::abort();
  }
  return 0;
}
