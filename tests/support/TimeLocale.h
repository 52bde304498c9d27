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
  // `name` as the sources call it, e.g. "de_DE"; compiled for ISO-8859-1, which is quick, unless
  // a character set is given ("UTF-8" for languages that Latin-1 cannot write); then the locale
  // is `name`.`charset`.
  explicit TTimeLocale(const std::string& source, const std::string& charset = {}) {
    const std::string name = charset.empty() ? source : source + "." + charset;
    const char* old = std::setlocale(LC_TIME, nullptr);
    FOld = old ? old : "C";
    // Installed ones (C, POSIX, C.UTF-8 at least) need no compiling.
    FActive = std::setlocale(LC_TIME, name.c_str()) != nullptr;
    if (FActive) return;
    const std::string target = FDir.File(name);
    const std::string command = "localedef -i " + source + " -f " +
                                (charset.empty() ? "ISO-8859-1" : charset) + " '" + target +
                                "' >/dev/null 2>&1";
    // localedef warns (exit 1) about some sources but still writes the locale.
    if (std::system(command.c_str()) < 0) return;
    // LOCPATH is needed only while the locale loads; left set, every later newlocale() in the
    // process (libraries loaded on first use call it) keeps a copy of it that glibc never frees.
    setenv("LOCPATH", FDir.Path().c_str(), 1);
    FActive = std::setlocale(LC_TIME, name.c_str()) != nullptr;
    unsetenv("LOCPATH");
  }
  ~TTimeLocale() { std::setlocale(LC_TIME, FOld.c_str()); }
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
