// The first byte chooses the addressee's form; the rest is the alert's text. The reading is
// bounded, names only areas in their code form and can always be said in words.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "base/AsciiText.h"
#include "fuzz/parse/FuzzCheck.h"
#include "parse/NwsAlert.h"
#include "parse/NwsWords.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  static constexpr std::string_view kAddressees[] = {"NWS-WARN", "NWS_ADVIS", "nws-watch", "NWS-CANCL"};
  const std::string_view addressee = kAddressees[data[0] % 4];
  const std::string_view text(reinterpret_cast<const char*>(data + 1), size - 1);
  const qm::TDateTime now = qm::EncodeDateTime({2026, 2, 28, 23, 59});
  const std::optional<qm::TNwsAlert> alert = qm::ReadNwsAlert(addressee, text, now);
  QM_FUZZ_CHECK(alert.has_value());
  QM_FUZZ_CHECK(alert->Areas.size() <= qm::kMaxNwsAreas);
  for (const qm::TNwsArea& area : alert->Areas) {
    const std::string code = qm::NwsAreaCode(area);
    QM_FUZZ_CHECK(code.size() == 7 && code == qm::UpperCase(code));
    QM_FUZZ_CHECK(area.Number >= 0 && area.Number <= 999 && (area.Type == 'C' || area.Type == 'Z'));
  }
  if (alert->ExpiresUtc) QM_FUZZ_CHECK(*alert->ExpiresUtc > now - 32 && *alert->ExpiresUtc < now + 32);
  QM_FUZZ_CHECK(qm::NwsAlertWords(*alert).size() < 2048);
  return 0;
}
