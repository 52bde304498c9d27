// The first byte chooses how many of the following bytes are the delimiter set.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "base/AsciiText.h"
#include "fuzz/parse/FuzzCheck.h"
#include "parse/QuillmarkParse.h"

namespace {
bool IsTrimmedText(std::string_view s) {
  return s.empty() || (!qm::IsTrimmed(s.front()) && !qm::IsTrimmed(s.back()));
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::size_t n = std::min<std::size_t>(data[0] % 4, size - 1);
  const std::string delimiters(reinterpret_cast<const char*>(data + 1), n);
  const std::string original(reinterpret_cast<const char*>(data + 1 + n), size - 1 - n);
  std::string text = original, token;
  qm::SplitFirstToken(text, delimiters, token);
  QM_FUZZ_CHECK(IsTrimmedText(text) && IsTrimmedText(token));
  const std::size_t i = original.find_first_of(delimiters);
  if (i == std::string::npos) {
    QM_FUZZ_CHECK(text.empty() && token == qm::Trim(original));
  } else {
    QM_FUZZ_CHECK(token.size() + text.size() < original.size());
    QM_FUZZ_CHECK(token.find_first_of(delimiters) == std::string::npos);
    QM_FUZZ_CHECK(original.find(token) != std::string::npos && original.find(text) != std::string::npos);
  }
  return 0;
}
