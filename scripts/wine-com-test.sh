#!/usr/bin/env bash
# Cross-builds the Windows host link (host/com) and its test program with MinGW-w64 and runs
# the program under Wine in a fresh, private prefix.
# Usage: scripts/wine-com-test.sh [BUILD_DIR]   (default: build/mingw)
# Exit: 0 passed, 1 failed, 77 skipped (MinGW-w64 or Wine not installed).
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${1:-$root/build/mingw}"

# Overridable, e.g. to see the skip: QM_WINE64=/nonexistent scripts/wine-com-test.sh
wine="${QM_WINE64:-/usr/lib/wine/wine64}"
wineserver="${QM_WINESERVER:-/usr/lib/wine/wineserver}"
missing=()
command -v x86_64-w64-mingw32-g++-posix >/dev/null || missing+=(g++-mingw-w64-x86-64-posix)
[ -x "$wine" ] && [ -x "$wineserver" ] || missing+=(wine64)
command -v cmake >/dev/null || missing+=(cmake)
if [ ${#missing[@]} -gt 0 ]; then
  echo "SKIPPED: the Windows host-link test needs ${missing[*]} (scripts/install-deps.sh wine)"
  exit 77
fi

now() { date +%s.%N; }
elapsed() { awk -v a="$1" -v b="$(now)" 'BEGIN { printf "%.1f s", b - a }'; }

echo "== build ($build)"
t=$(now)
generator=()
command -v ninja >/dev/null && generator=(-G Ninja)
cmake -S "$root/tests/e2e/com" -B "$build" "${generator[@]}" \
  -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" -j2
echo "build: $(elapsed "$t")"

export WINEPREFIX WINEARCH=win64 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" LC_ALL=C.UTF-8
WINEPREFIX="$(mktemp -d "${TMPDIR:-/tmp}/qm-wine.XXXXXX")"
unset DISPLAY WAYLAND_DISPLAY
cleanup() {
  "$wineserver" -k 2>/dev/null || true
  rm -rf "$WINEPREFIX"
}
trap cleanup EXIT

echo "== Wine prefix ($WINEPREFIX)"
t=$(now)
timeout 300 "$wine" wineboot -i >/dev/null 2>&1
# A COM program started while the boot session winds down gets RPC_S_SERVER_UNAVAILABLE.
timeout 120 "$wineserver" -w
echo "prefix: $(elapsed "$t")"

echo "== run"
t=$(now)
status=0
timeout 180 "$wine" "$build/uiview32_client_wine_test.exe" || status=$?
echo "run: $(elapsed "$t")"
[ $status -eq 0 ] || echo "wine-com-test: the test program failed (exit $status)"
exit $([ $status -eq 0 ] && echo 0 || echo 1)
