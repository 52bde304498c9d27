// The body of a message to send from the board's page, as any client may send it.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "web/BoardSend.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const auto asked = qm::ReadSendBody(std::string_view(reinterpret_cast<const char*>(data), size));
  // Bounded in characters, so in UTF-8 bytes at most four times that.
  if (asked && (asked->To.size() > 36 || asked->Text.size() > 800)) std::abort();
  return 0;
}
