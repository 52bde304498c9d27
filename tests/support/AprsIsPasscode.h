#pragma once

#include <cctype>
#include <cstddef>
#include <string>

namespace qm::test {

// The APRS-IS passcode of a callsign: the 15-bit hash of its base call, as servers check it.
inline int AprsIsPasscode(std::string call) {
  call = call.substr(0, call.find('-'));
  for (char& c : call) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  int hash = 0x73e2;
  for (std::size_t i = 0; i < call.size(); i += 2) {
    hash ^= static_cast<unsigned char>(call[i]) << 8;
    if (i + 1 < call.size()) hash ^= static_cast<unsigned char>(call[i + 1]);
  }
  return hash & 0x7fff;
}

}  // namespace qm::test
