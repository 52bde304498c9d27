// The checks of the console test programs run under Wine: one line per check, then
// "N passed, M failed" and the exit code.
#pragma once

#include <cstdio>
#include <string>

namespace qm::winetest {

inline int Passed = 0;
inline int Failed = 0;

inline std::string Printable(const std::string& Text) {
  std::string Out;
  for (unsigned char Ch : Text) {
    if (Ch >= 32 && Ch < 127) {
      Out += static_cast<char>(Ch);
    } else {
      char Hex[8];
      std::snprintf(Hex, sizeof Hex, "\\x%02X", Ch);
      Out += Hex;
    }
  }
  return Out;
}

inline void Check(bool Ok, const std::string& What, int Line, const std::string& Detail = {}) {
  if (Ok) {
    ++Passed;
    std::printf("ok   %s%s%s\n", What.c_str(), Detail.empty() ? "" : ": ", Detail.c_str());
  } else {
    ++Failed;
    std::printf("FAIL %s (line %d)%s%s\n", What.c_str(), Line, Detail.empty() ? "" : ": ", Detail.c_str());
  }
  std::fflush(stdout);
}

// Prints the closing line; the program's exit code.
inline int Summary() {
  std::printf("%d passed, %d failed\n", Passed, Failed);
  return Failed == 0 && Passed > 0 ? 0 : 1;
}

}  // namespace qm::winetest

#define CHECK(cond, what) ::qm::winetest::Check((cond), (what), __LINE__)
#define CHECK_EQ_TEXT(actual, expected, what)                                                   \
  do {                                                                                          \
    std::string A_ = (actual), E_ = (expected);                                                 \
    ::qm::winetest::Check(A_ == E_, (what), __LINE__,                                           \
                          A_ == E_ ? ""                                                         \
                                   : "got \"" + ::qm::winetest::Printable(A_) + "\", want \"" + \
                                         ::qm::winetest::Printable(E_) + "\"");                 \
  } while (0)
