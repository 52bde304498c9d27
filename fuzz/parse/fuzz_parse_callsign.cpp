#include <cstddef>
#include <cstdint>
#include <string>

#include "base/AsciiText.h"
#include "fuzz/parse/FuzzCheck.h"
#include "parse/QuillmarkParse.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string t(reinterpret_cast<const char*>(data), size);
  const qm::TCallSign c = qm::ParseCallSign(t);
  QM_FUZZ_CHECK(c.Valid == !t.empty());
  QM_FUZZ_CHECK(c.BaseCall.size() <= t.size());
  for (char ch : c.BaseCall) QM_FUZZ_CHECK(!(ch >= 'a' && ch <= 'z'));
  const std::string expected = c.SSID == 0 ? c.BaseCall : c.BaseCall + "-" + std::to_string(c.SSID);
  QM_FUZZ_CHECK(c.FullCall == expected);
  // Reading the full call again gives the same record (the SSID form is stable), except
  // for a base that ends in digits and had its SSID 0: those digits would read as one.
  const bool digitEnd = !c.BaseCall.empty() && qm::IsDigit(c.BaseCall.back());
  if (c.Valid && !c.BaseCall.empty() && c.BaseCall.find('-') == std::string::npos &&
      !(c.SSID == 0 && digitEnd)) {
    bool letters = false;
    for (char ch : c.BaseCall) letters = letters || (ch >= 'A' && ch <= 'Z');
    if (letters) QM_FUZZ_CHECK(qm::ParseCallSign(c.FullCall).FullCall == c.FullCall);
  }
  return 0;
}
