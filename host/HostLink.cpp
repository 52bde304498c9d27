#include "HostLink.h"

#include "AprsIsHostLink.h"
#include "KissTcpHostLink.h"
#include "ReplayHostLink.h"

namespace qm {

std::unique_ptr<TclsUIV> CreateHostLink(const THostSettings& settings, QObject* parent) {
  switch (settings.Transport) {
    case THostSettings::htAprsIs:
      return std::make_unique<TAprsIsHostLink>(settings, parent);
    case THostSettings::htKissTcp:
      return std::make_unique<TKissTcpHostLink>(settings, parent);
    case THostSettings::htReplay:
      break;
  }
  return std::make_unique<TReplayHostLink>(settings, parent);
}

}  // namespace qm
