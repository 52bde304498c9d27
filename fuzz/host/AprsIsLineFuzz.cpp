// The APRS-IS line reader and the login line on arbitrary server bytes and settings.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "host/AprsIsLineReader.h"
#include "host/HostText.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::size_t chunk = 1 + data[0] % 128;
  const std::string_view input(reinterpret_cast<const char*>(data) + 1, size - 1);
  std::string_view rest = input;
  qm::TAprsIsLineReader reader(64);
  while (!rest.empty()) {
    const auto part = rest.substr(0, chunk);
    rest.remove_prefix(part.size());
    reader.Feed(part, [](std::string_view line) {
      if (line.empty() || line.size() > 64 || line.find_first_of("\r\n") != std::string_view::npos)
        std::abort();
      // A login answer is read only from the server's own line about this call.
      const qm::TLoginAnswer answer = qm::ReadLoginAnswer(line, "Q1ABC-7");
      if (answer != qm::laNone && !qm::TAprsIsLineReader::IsServerLine(line)) std::abort();
    });
  }
  // Whatever the settings hold, the login stays one line that ends in CR LF.
  const auto half = input.size() / 2;
  const std::string login = qm::AprsIsLoginLine(input.substr(0, half), input.substr(half));
  if (login.size() < 2 || login.substr(login.size() - 2) != "\r\n" ||
      login.find_first_of("\r\n") != login.size() - 2)
    std::abort();
  return 0;
}
