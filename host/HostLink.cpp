#include "host/HostLink.h"

#include "host/AprsIsHostLink.h"
#ifdef QM_HAVE_SERIAL_HOST_LINK
#include "host/KissSerialHostLink.h"
#endif
#include "host/KissTcpHostLink.h"
#include "host/ReplayHostLink.h"

#include <stdexcept>

namespace qm {

std::unique_ptr<THostLink> CreateHostLink(const THostSettings& settings, QObject* parent) {
  switch (settings.Transport) {
    case THostSettings::htAprsIs:
      return std::make_unique<TAprsIsHostLink>(settings, parent);
    case THostSettings::htKissTcp:
      return std::make_unique<TKissTcpHostLink>(settings, parent);
    case THostSettings::htKissSerial:
#ifdef QM_HAVE_SERIAL_HOST_LINK
      return std::make_unique<TKissSerialHostLink>(settings, parent);
#else
      throw std::runtime_error("This build has no serial port support for a KISS TNC");
#endif
    case THostSettings::htStationProgram:
      // MakeSourceLink (the program's) makes that link where the platform has it.
      throw std::runtime_error("The station program's automation link is available on Windows only");
    case THostSettings::htReplay:
      break;
  }
  return std::make_unique<TReplayHostLink>(settings, parent);
}

}  // namespace qm
