#include "host/KissTcpHostLink.h"

#include "host/HostText.h"

namespace qm {

void TKissTcpHostLink::Received(std::string_view bytes) {
  FDecoder.Feed(bytes, [this](int, std::string_view ax25) {
    if (auto text = Ax25FramePacketText(ax25)) Deliver(std::move(*text));
  });
}

}  // namespace qm
