// The body of an acknowledgement from the board's page, as any client may send it: read as one
// alarm's number, every alarm, or nothing.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "web/BoardAlarms.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const auto asked = qm::ReadAcknowledgeBody(std::string_view(reinterpret_cast<const char*>(data), size));
  if (asked && asked->Id && *asked->Id < 1) std::abort();
  return 0;
}
