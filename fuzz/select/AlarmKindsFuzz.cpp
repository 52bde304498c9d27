// The alarm kinds' words as --alarm and [Alarms] Kinds give them: any text is either kinds or
// refused with its reason, and kinds written as words read back the same.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "select/Alarms.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  qm::TAlarmKinds kinds;
  try {
    kinds = qm::ParseAlarmKinds(text);
  } catch (const qm::EAlarmKinds& refused) {
    if (std::string_view(refused.what()).empty()) std::abort();
    return 0;
  }
  if (qm::ParseAlarmKinds(qm::AlarmKindsText(kinds)) != kinds) std::abort();
  return 0;
}
