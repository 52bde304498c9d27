// The cleaning is done on views for speed; it must give exactly what the plain recipe
// with SplitFirstToken gives. The intake's line is the cleaned one, or what follows its
// first ":}" (a third-party packet).
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>

#include "base/AsciiText.h"
#include "fuzz/parse/FuzzCheck.h"
#include "parse/HostIntake.h"
#include "parse/QuillmarkParse.h"

namespace {
std::string Reference(std::string s) {
  if (!s.empty()) s.erase(0, 1);
  if (s.size() >= 3 && qm::IsDigit(s[0]) && s[2] == ':') {
    std::string word;
    qm::SplitFirstToken(s, " ", word);
  }
  s.erase(std::remove(s.begin(), s.end(), '\r'), s.end());
  s.erase(std::remove(s.begin(), s.end(), '\n'), s.end());
  return s;
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string host(reinterpret_cast<const char*>(data), size);
  const std::string clean = qm::CleanPacketText(host);
  QM_FUZZ_CHECK(clean == Reference(host));
  QM_FUZZ_CHECK(clean.find_first_of("\r\n") == std::string::npos);
  QM_FUZZ_CHECK(clean.size() < size || size == 0);
  const std::string line = qm::IntakePacketLine(host);
  const std::size_t colon = clean.find(':');
  const bool thirdParty = colon != std::string::npos && colon + 1 < clean.size() && clean[colon + 1] == '}';
  QM_FUZZ_CHECK(line == (thirdParty ? clean.substr(colon + 2) : clean));
  return 0;
}
