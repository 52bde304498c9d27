#!/usr/bin/env bash
# Builds Quillmark and runs the whole test suite: formatting, the plain build with the
# Debian package made, installed and removed again, the AddressSanitizer +
# UndefinedBehaviorSanitizer build, the ThreadSanitizer build of the core and the desk (Qt Core
# parts, no widgets or window), the benchmark programs (built, not run), and the
# Windows program cross-built with its installer and tried under Wine.
# Installs what is missing first (as root).
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh test
scripts/install-deps.sh wine || echo "test: Wine could not be installed; the Windows host-link test will report itself skipped"

# The checks are pinned to the versions install-deps.sh installs: another version formats
# and lints differently.
echo "== formatting ($(clang-format-14 --version))"
git ls-files '*.cpp' '*.h' | xargs clang-format-14 --dry-run --Werror

# Printing tests send real jobs to a CUPS queue that writes PDF files.
[ -x scripts/cups-pdf-queue.sh ] && scripts/cups-pdf-queue.sh start

status=0
for preset in default asan tsan; do
  echo "== $preset"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset"
  if [ "$preset" = default ]; then
    echo "== lint (the whole tree)"
    scripts/lint.sh --all || status=1
  fi
  ctest --preset "$preset" -j2 || status=1
  if [ "$preset" = default ]; then
    echo "== Debian package"
    if [ "$(id -u)" -eq 0 ] && command -v dpkg >/dev/null; then
      scripts/package-test.sh build/default || status=1
    else
      echo "test: the package test needs root and dpkg (it installs and removes the package); skipped"
    fi
  fi
done

# The benchmark programs are built (not run: their figures mean something only on a quiet or
# a deliberately loaded machine), so they keep compiling with the code they measure.
echo "== benchmark programs (built only)"
{ cmake --preset bench >/dev/null && cmake --build --preset bench; } || status=1

# The Windows program, cross-built and run under Wine: kept apart from the Linux builds.
echo "== Windows program under Wine"
windows=0
scripts/windows-test.sh || windows=$?
case $windows in
  0) ;;
  77) echo "test: the Windows program test was skipped (the reason is above)" ;;
  *) status=1 ;;
esac
exit $status
