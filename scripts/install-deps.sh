#!/usr/bin/env bash
# Installs the Debian packages Quillmark needs, asking apt only for what is missing.
# Usage: scripts/install-deps.sh [build] [test] [print] [package] [wine] [kit]   (no argument: build)
#   build  compilers, CMake, GoogleTest, Google Benchmark, Qt 6 with Serial Port and Multimedia (the
#          alarm's sound), cpp-httplib, fonts,
#          clang-format-14, clang-tidy-14 (the versions the checks are pinned to), graphviz,
#          the locale sources the regional time tests compile their locales from
#   print  CUPS with a PDF-writing queue driver (the demo's printer when none exists)
#   package  what building and checking the Debian package takes: dpkg-shlibdeps, file,
#          lintian, desktop-file-validate, appstreamcli
#   test   everything the whole test suite and the real peers need (includes print, package),
#          headless Chromium with its driver and Selenium for the board's browser tests
#   wine   MinGW-w64 (posix threads), Wine (the `wine` command, and /usr/lib/wine/wine64), NSIS
#          and widl with Wine's IDL files: the Windows cross-build, its installer and the tests
#          under Wine
#   kit    what scripts/build-windows-kit.sh needs besides wine: Debian's source tools, the
#          host's Qt (its build tools and CMake files), Tcl for SQLite's amalgamation and the
#          host's cpp-httplib (the version the board's header for Windows is made from)
set -euo pipefail

build_pkgs=(cmake ninja-build ccache g++ clang libclang-rt-14-dev libgtest-dev libgmock-dev
  libbenchmark-dev libspdlog-dev qt6-base-dev qt6-base-dev-tools qt6-qpa-plugins qt6-serialport-dev qt6-multimedia-dev
  libgl-dev fonts-liberation fonts-liberation2 clang-format-14 clang-tidy-14 graphviz python3 libsqlite3-dev libcups2-dev locales
  libcpp-httplib-dev)
print_pkgs=(cups printer-driver-cups-pdf poppler-utils cups-ipp-utils)
test_pkgs=(xvfb xauth direwolf efingerd finger socat netcat-openbsd iproute2 util-linux
  imagemagick trayer xdotool faketime xclip chromium chromium-driver python3-selenium)
package_pkgs=(dpkg-dev file lintian desktop-file-utils appstream)
wine_pkgs=(g++-mingw-w64-x86-64-posix mingw-w64-tools libwine-dev wine wine64 fonts-wine nsis)
kit_pkgs=(dpkg-dev cmake ninja-build gcc make tcl xz-utils qt6-base-dev qt6-base-dev-tools libsqlite3-dev
  libcpp-httplib-dev)

[ $# -gt 0 ] || set -- build
want=()
for group in "$@"; do
  case "$group" in
    build) want+=("${build_pkgs[@]}") ;;
    print) want+=("${print_pkgs[@]}") ;;
    package) want+=("${package_pkgs[@]}") ;;
    test) want+=("${build_pkgs[@]}" "${print_pkgs[@]}" "${package_pkgs[@]}" "${test_pkgs[@]}") ;;
    wine) want+=("${wine_pkgs[@]}") ;;
    kit) want+=("${kit_pkgs[@]}") ;;
    *) echo "install-deps: unknown group '$group'" >&2; exit 2 ;;
  esac
done

missing=()
for p in "${want[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

if [ "$(id -u)" -ne 0 ]; then
  echo "install-deps: these packages are missing; install them as root: ${missing[*]}" >&2
  exit 1
fi
echo "install-deps: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
# Packages that would start services (cups, efingerd via inetd) must not start them here.
if [ ! -e /usr/sbin/policy-rc.d ]; then
  printf "#!/bin/sh\nexit 101\n" > /usr/sbin/policy-rc.d && chmod +x /usr/sbin/policy-rc.d
  trap "rm -f /usr/sbin/policy-rc.d" EXIT
fi
apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
