// Feeds arbitrary bytes to what the board reads of a request and of its settings: the
// Authorization header, the listening address, a page's name, a change's origin.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "web/BoardDoor.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const std::string bearer = qm::BearerToken(text);
  if (bearer.size() > size) std::abort();
  if (const auto address = qm::ReadBoardAddress(text)) {
    if (address->Port < 0 || address->Port > 65535 || address->Host.empty()) std::abort();
    if (address->Host.find_first_of("/ \r\n") != std::string::npos) std::abort();
  }
  if (qm::IsPageName(text) && (text.find('/') != std::string_view::npos ||
                               text.find("..") != std::string_view::npos || text[0] == '.'))
    std::abort();
  const std::size_t half = size / 2;
  if (qm::SameOriginChange(text.substr(0, half), "", text.substr(half)) &&
      text.substr(0, half) != "http://" + std::string(text.substr(half)))
    std::abort();
  if (qm::SameToken(text, text) != !text.empty()) std::abort();
  return 0;
}
