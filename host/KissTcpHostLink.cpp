#include "host/KissTcpHostLink.h"

#include "host/HostText.h"

namespace qm {

void TKissTcpHostLink::Received(std::string_view bytes) {
  FDecoder.Feed(bytes, [this](int, std::string_view ax25) {
    const auto line = DecodeAx25UiFrame(ax25);
    if (!line) return;
    // A third-party packet is judged as the packet it carries.
    Deliver(MakeHostPacketText(UnwrapThirdParty(*line), HostTimeWord()));
  });
}

}  // namespace qm
