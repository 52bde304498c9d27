#include "host/KissTcpHostLink.h"

namespace qm {

void TKissTcpHostLink::Received(std::string_view bytes) {
  FeedKiss(FDecoder, bytes);
}

}  // namespace qm
