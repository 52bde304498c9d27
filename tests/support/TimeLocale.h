// A real regional LC_TIME for one test: the locale is compiled from the system's locale
// sources (localedef, from Debian's "locales" package) into a folder of the test's own, so
// the machine need not have it installed. The program's LC_TIME goes back when it ends.
#pragma once

#include <clocale>
#include <cstdlib>
#include <string>

#include "tests/support/TempDir.h"

namespace qm::test {

class TTimeLocale {
 public:
  // `name` as the sources call it, e.g. "de_DE"; compiled for ISO-8859-1, which is quick.
  explicit TTimeLocale(const std::string& name) {
    const char* old = std::setlocale(LC_TIME, nullptr);
    FOld = old ? old : "C";
    // Installed ones (C, POSIX, C.UTF-8 at least) need no compiling.
    FActive = std::setlocale(LC_TIME, name.c_str()) != nullptr;
    if (FActive) return;
    const std::string target = FDir.File(name);
    const std::string command = "localedef -i " + name + " -f ISO-8859-1 '" + target + "' >/dev/null 2>&1";
    // localedef warns (exit 1) about some sources but still writes the locale.
    if (std::system(command.c_str()) < 0) return;
    setenv("LOCPATH", FDir.Path().c_str(), 1);
    FActive = std::setlocale(LC_TIME, name.c_str()) != nullptr;
  }
  ~TTimeLocale() {
    std::setlocale(LC_TIME, FOld.c_str());
    unsetenv("LOCPATH");
  }
  TTimeLocale(const TTimeLocale&) = delete;
  TTimeLocale& operator=(const TTimeLocale&) = delete;

  // False when the locale could not be made (no localedef or no sources for it).
  bool Active() const { return FActive; }

 private:
  TTempDir FDir;
  std::string FOld;
  bool FActive = false;
};

}  // namespace qm::test
