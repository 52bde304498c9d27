#include "host/HostSettings.h"

namespace qm {

int THostSettings::EffectivePort() const {
  if (Port != 0) return Port;
  switch (Transport) {
    case htAprsIs:
      return DefaultAprsIsPort;
    case htKissTcp:
      return DefaultKissPort;
    case htReplay:
    case htStationProgram:
      break;
  }
  return 0;
}

}  // namespace qm
