// The alarm kinds as typed (--alarm, the settings file) and the alarm rule over a packet parsed
// from the same bytes: a list is read or refused in words, and what is read reads back the same.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "select/Alarms.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  qm::TAlarmKinds kinds;
  try {
    kinds = qm::ParseAlarmKinds(text);
    if (qm::ParseAlarmKinds(qm::AlarmKindsText(kinds)) != kinds) std::abort();
  } catch (const qm::EAlarmKinds& e) {
    if (std::string_view(e.what()).find("is no alarm kind") == std::string_view::npos) std::abort();
    kinds = qm::ParseAlarmKinds("own,listed,bulletin,announcement,watch,warning,advisory");
  }
  const auto packet = qm::ParseAprsPacket(text, 0, 46366.5);
  if (const auto kind = qm::WantsAlarm(kinds, *packet, "N0CALL", 46366.5); kind && !kinds.Has(*kind))
    std::abort();
  return 0;
}
