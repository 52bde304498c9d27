#include "base/IntegerText.h"

namespace qm {
namespace {

int DigitValue(char c, bool hex) {
  if (c >= '0' && c <= '9') return c - '0';
  if (hex && c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (hex && c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Digits of one base up to `limit`; false on anything else or on an empty text.
bool ReadMagnitude(std::string_view text, bool hex, std::uint64_t limit, std::uint64_t& magnitude) {
  if (text.empty()) return false;
  magnitude = 0;
  for (const char c : text) {
    const int digit = DigitValue(c, hex);
    if (digit < 0) return false;
    magnitude = magnitude * (hex ? 16 : 10) + static_cast<unsigned>(digit);
    if (magnitude > limit) return false;
  }
  return true;
}

}  // namespace

bool TryParseInteger(std::string_view text, std::int32_t& value) {
  while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
  bool negative = false;
  if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
    negative = text.front() == '-';
    text.remove_prefix(1);
  }
  bool hex = false;
  if (!text.empty() && text.front() == '$') {
    hex = true;
    text.remove_prefix(1);
  } else if (text.size() >= 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    hex = true;
    text.remove_prefix(2);
  }
  const std::uint64_t limit = hex ? 0xFFFFFFFFull : (negative ? 2147483648ull : 2147483647ull);
  std::uint64_t magnitude = 0;
  if (!ReadMagnitude(text, hex, limit, magnitude)) return false;
  const auto bits = static_cast<std::uint32_t>(magnitude);
  value = static_cast<std::int32_t>(negative ? 0u - bits : bits);
  return true;
}

std::int32_t StrToIntDef(std::string_view text, std::int32_t fallback) {
  std::int32_t value = 0;
  return TryParseInteger(text, value) ? value : fallback;
}

bool TryParseDecimal(std::string_view text, std::int32_t& value) {
  std::uint64_t magnitude = 0;
  if (!ReadMagnitude(text, false, 2147483647ull, magnitude)) return false;
  value = static_cast<std::int32_t>(magnitude);
  return true;
}

}  // namespace qm
