#include "base/ProgramText.h"

#include <array>
#include <cstdint>

namespace qm {
namespace {

// Windows-1252 for 0x80-0x9F; the undefined positions keep their Latin-1 code point.
constexpr std::array<char16_t, 32> kCp1252High = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

// Strict UTF-8: no overlong forms, no surrogates, nothing above U+10FFFF.
bool IsValidUtf8(std::string_view s) {
  std::size_t i = 0;
  while (i < s.size()) {
    const auto b0 = static_cast<std::uint8_t>(s[i]);
    if (b0 < 0x80) {
      ++i;
      continue;
    }
    int len = 0;
    std::uint8_t lo = 0x80, hi = 0xBF;
    if (b0 >= 0xC2 && b0 <= 0xDF) {
      len = 2;
    } else if (b0 >= 0xE0 && b0 <= 0xEF) {
      len = 3;
      if (b0 == 0xE0) lo = 0xA0;
      if (b0 == 0xED) hi = 0x9F;
    } else if (b0 >= 0xF0 && b0 <= 0xF4) {
      len = 4;
      if (b0 == 0xF0) lo = 0x90;
      if (b0 == 0xF4) hi = 0x8F;
    } else {
      return false;
    }
    if (i + static_cast<std::size_t>(len) > s.size()) return false;
    for (int k = 1; k < len; ++k) {
      const auto b = static_cast<std::uint8_t>(s[i + static_cast<std::size_t>(k)]);
      if (b < (k == 1 ? lo : 0x80) || b > (k == 1 ? hi : 0xBF)) return false;
    }
    i += static_cast<std::size_t>(len);
  }
  return true;
}

}  // namespace

QString DisplayText(std::string_view bytes) {
  if (IsValidUtf8(bytes)) return QString::fromUtf8(bytes.data(), static_cast<qsizetype>(bytes.size()));
  QString out;
  out.reserve(static_cast<qsizetype>(bytes.size()));
  for (const char c : bytes) {
    const auto b = static_cast<std::uint8_t>(c);
    out += (b >= 0x80 && b <= 0x9F) ? QChar(kCp1252High[b - 0x80]) : QChar(static_cast<char16_t>(b));
  }
  return out;
}

std::string ProgramText(const QString& text) {
  return text.toUtf8().toStdString();
}

}  // namespace qm
