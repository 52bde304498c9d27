// A communications log's period as typed (--ics309 FROM TO, the board's from= and to=): the
// bytes split in two at their first NUL, read or refused with a reason; a period read is never
// empty and its times read back from their text.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "print/LogPeriod.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  const std::size_t cut = bytes.find('\0');
  const std::string_view from = bytes.substr(0, cut);
  const std::string_view to = cut == std::string_view::npos ? std::string_view() : bytes.substr(cut + 1);
  qm::TDateTime f = 0, t = 0;
  const QString why = qm::ReadLogPeriod(from, to, f, t);
  if (!why.isEmpty()) return 0;
  if (t <= f) std::abort();
  std::string again = qm::MinuteText(f).toStdString();
  again[10] = 'T';
  if (again != from) std::abort();
  return 0;
}
