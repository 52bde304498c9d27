// The program's own ASCII text rules. They never consult the C locale, so the result
// for a byte is the same on every machine and in every language setting.
#pragma once

#include <string>
#include <string_view>

namespace qm {

// a-z become A-Z; every other byte stays as it is.
constexpr char UpCase(char c) {
  return (c >= 'a' && c <= 'z') ? static_cast<char>(c - ('a' - 'A')) : c;
}

// 0-9 only.
constexpr bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

// A byte that trimming removes: code 32 or less, read as unsigned.
constexpr bool IsTrimmed(char c) {
  return static_cast<unsigned char>(c) <= 32;
}

std::string UpperCase(std::string_view s);

// Removes every byte with a code of 32 or less from both ends.
std::string Trim(std::string_view s);

// The same cut without copying: a view into s.
std::string_view TrimView(std::string_view s);

}  // namespace qm
