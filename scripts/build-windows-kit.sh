#!/usr/bin/env bash
# Builds the Windows kit the windows-cross preset compiles against, from Debian 12's own source
# packages: Qt 6.4.2 (Core, Gui, Widgets, Network, PrintSupport, the windows platform plugin
# and the Vista style) and SQLite 3.40.1, cross-built for x86_64 Windows with MinGW-w64 (posix
# threads) as shared DLLs, and cpp-httplib 0.11.4's header for the board. It leaves the three
# archives cmake/QmWindowsKit.cmake unpacks, qt6-mingw-6.4.2.tar.xz, sqlite-mingw-3.40.1.tar.xz
# and cpp-httplib-mingw-0.11.4.tar.xz, in the kit folder. Qt Multimedia is
# not in the kit: the Windows program sounds an alarm with the system's bell.
#
# Usage: scripts/build-windows-kit.sh [KIT_DIR]
#   KIT_DIR  default ${XDG_CACHE_HOME:-~/.cache}/quillmark/windows-kit, where the preset looks
# Needs root for apt (it installs `scripts/install-deps.sh wine kit` and adds deb-src entries
# for the machine's Debian sources), about 2 GB in KIT_DIR/work and about an hour on 2 cores.
# A second run keeps what is done: an archive that exists is not made again, and an
# interrupted Qt build goes on where it stopped. KIT_DIR/work can be removed afterwards.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
kit="${1:-${XDG_CACHE_HOME:-$HOME/.cache}/quillmark/windows-kit}"
work="$kit/work"
mkdir -p "$work"
kit="$(cd "$kit" && pwd)"
work="$kit/work"
jobs="${QM_KIT_JOBS:-$(nproc)}"
start=$(date +%s)
say() { echo "build-windows-kit: $*"; }
minutes() { echo "$((($(date +%s) - $1 + 30) / 60)) min"; }

"$root/scripts/install-deps.sh" wine kit

# apt-get source needs deb-src entries; they mirror the machine's own Debian entries.
if ! apt-cache showsrc qt6-base 2>/dev/null | grep -q '^Package: qt6-base'; then
  [ "$(id -u)" -eq 0 ] || { say "deb-src entries are missing; run as root to add them" >&2; exit 1; }
  if [ -f /etc/apt/sources.list.d/debian.sources ]; then
    sed 's/^Types:.*/Types: deb-src/' /etc/apt/sources.list.d/debian.sources \
      >/etc/apt/sources.list.d/quillmark-deb-src.sources
  else
    grep -hE '^deb ' /etc/apt/sources.list 2>/dev/null | sed 's/^deb /deb-src /' \
      >/etc/apt/sources.list.d/quillmark-deb-src.list
  fi
  say "added deb-src entries; apt-get update"
  apt-get update -qq
fi

# The host's moc, rcc and uic build the program, so Qt is built from the same Debian version.
qt_version=$(dpkg-query -W -f='${Version}' qt6-base-dev-tools)
sqlite_version=$(dpkg-query -W -f='${Version}' libsqlite3-dev)
httplib_version=$(dpkg-query -W -f='${Version}' libcpp-httplib-dev)
case "$qt_version" in 6.4.2+*) ;; *) say "qt6-base-dev-tools is $qt_version, not 6.4.2" >&2; exit 1 ;; esac
case "$sqlite_version" in 3.40.1-*) ;; *) say "libsqlite3-dev is $sqlite_version, not 3.40.1" >&2; exit 1 ;; esac
case "$httplib_version" in 0.11.4+*) ;; *) say "libcpp-httplib-dev is $httplib_version, not 0.11.4" >&2; exit 1 ;; esac
toolchain="$root/cmake/mingw-w64-x86_64.cmake"

# Unpacks a Debian source package (with Debian's patches) into $work/$2 once. apt checks the
# files against the archive's signed indexes; dpkg-source's own check of the .dsc wants
# debian-keyring and only warns without it.
unpack_source() {  # unpack_source PACKAGE=VERSION FOLDER
  local folder="$work/$2"
  [ -f "$folder/.unpacked" ] && return
  rm -rf "$folder"
  # The .dsc is named without the epoch; these versions have none.
  (cd "$work" && apt-get source --download-only -qq "$1" && dpkg-source -x "${1%%=*}_${1#*=}.dsc" "$folder" >/dev/null)
  touch "$folder/.unpacked"
}

# Packs $work/stage/FOLDER as ARCHIVE, which appears only whole.
pack() {  # pack FOLDER ARCHIVE
  tar -C "$work/stage" -cf - "$1" | xz -T "$jobs" -6 >"$2.part"
  mv "$2.part" "$2"
}

# --- Qt -----------------------------------------------------------------------------------
qt_archive="$kit/qt6-mingw-6.4.2.tar.xz"
if [ ! -f "$qt_archive" ]; then
  t=$(date +%s)
  unpack_source "qt6-base=$qt_version" qt6-base
  src="$work/qt6-base"
  # The +dfsg source leaves out the tablet (Wintab) headers the windows plugin includes;
  # Wine's, under the LGPL, serve, with the two macros Wine's own build defines.
  wintab="$src/src/3rdparty/wintab"
  if [ ! -f "$wintab/wintab.h" ]; then
    mkdir -p "$wintab"
    cp /usr/include/wine/wine/windows/pktdef.h "$wintab/"
    awk '{ print } /#define __WINE_WINTAB_H/ {
      print "#ifndef DECL_WINELIB_TYPE_AW"
      print "# ifdef UNICODE"
      print "#  define WINELIB_NAME_AW(func) func##W"
      print "# else"
      print "#  define WINELIB_NAME_AW(func) func##A"
      print "# endif"
      print "# define DECL_WINELIB_TYPE_AW(type) typedef WINELIB_NAME_AW(type) type;"
      print "#endif"
      print "#ifndef API"
      print "# define API WINAPI"
      print "#endif" }' /usr/include/wine/wine/windows/wintab.h >"$wintab/wintab.h"
  fi
  # Direct2D and OpenGL are off; Qt 6.4.2 assumes them in three places: its DirectWrite
  # engines need Direct2D, and dynamicgl code needs OpenGL.
  guard() {  # guard FILE FEATURE: "#if QT_CONFIG(FEATURE)" also asks for the missing one
    local file=$1 feature=$2 needs=$3
    sed -i "s/^#if QT_CONFIG($feature)\$/#if QT_CONFIG($feature) \&\& QT_CONFIG($needs)/" "$src/$file"
    grep -q "^#if QT_CONFIG($feature) && QT_CONFIG($needs)\$" "$src/$file" ||
      { say "$file: no '#if QT_CONFIG($feature)' to guard" >&2; exit 1; }
  }
  guard src/printsupport/platform/windows/qprintengine_win.cpp directwrite direct2d
  guard src/plugins/platforms/windows/qwindowsintegration.cpp directwrite3 direct2d
  guard src/plugins/platforms/windows/qwindowswindow.cpp dynamicgl opengl

  prefix="$work/stage/qt6-mingw-6.4.2"
  launcher=()
  command -v ccache >/dev/null && launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
  if [ ! -f "$work/qt-build/build.ninja" ]; then
    say "configuring Qt $qt_version"
    nice -n 10 cmake -G Ninja -S "$src" -B "$work/qt-build" "${launcher[@]}" \
      -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$prefix" \
      -DQT_HOST_PATH=/usr -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake \
      -DBUILD_SHARED_LIBS=ON -DQT_BUILD_EXAMPLES=OFF -DQT_BUILD_TESTS=OFF -DQT_BUILD_BENCHMARKS=OFF \
      -DFEATURE_opengl=OFF -DFEATURE_direct2d=OFF -DFEATURE_dbus=OFF -DFEATURE_sql=OFF \
      -DFEATURE_testlib=OFF -DFEATURE_xml=OFF -DFEATURE_concurrent=OFF -DFEATURE_icu=OFF \
      -DFEATURE_androiddeployqt=OFF -DFEATURE_jpeg=OFF -DFEATURE_zstd=OFF -DFEATURE_brotli=OFF \
      -DINPUT_openssl=no \
      -DFEATURE_system_zlib=OFF -DFEATURE_png=ON -DFEATURE_system_png=OFF \
      -DFEATURE_freetype=ON -DFEATURE_system_freetype=OFF \
      -DFEATURE_harfbuzz=ON -DFEATURE_system_harfbuzz=OFF \
      -DFEATURE_pcre2=ON -DFEATURE_system_pcre2=OFF >"$work/qt-configure.log"
  fi
  say "building Qt with $jobs jobs (log: $work/qt-build.log)"
  nice -n 10 cmake --build "$work/qt-build" -j "$jobs" >"$work/qt-build.log"
  rm -rf "$prefix"
  cmake --install "$work/qt-build" >/dev/null
  rm -rf "$prefix/doc"
  find "$prefix" -name '*.dll' -exec x86_64-w64-mingw32-strip --strip-unneeded {} +
  pack qt6-mingw-6.4.2 "$qt_archive"
  say "Qt: $qt_archive ($(du -h "$qt_archive" | cut -f1)), $(minutes "$t")"
fi

# --- SQLite -------------------------------------------------------------------------------
sqlite_archive="$kit/sqlite-mingw-3.40.1.tar.xz"
if [ ! -f "$sqlite_archive" ]; then
  t=$(date +%s)
  unpack_source "sqlite3=$sqlite_version" sqlite3
  src="$work/sqlite3"
  # The amalgamation is made by SQLite's own build (Tcl scripts), configured for this machine.
  mkdir -p "$work/sqlite-build"
  if [ ! -f "$work/sqlite-build/sqlite3.c" ]; then
    (cd "$work/sqlite-build" && "$src/configure" >"$work/sqlite-configure.log" && make sqlite3.c >"$work/sqlite-make.log")
  fi
  out="$work/stage/sqlite-mingw-3.40.1"
  rm -rf "$out"
  mkdir -p "$out/bin" "$out/lib" "$out/include"
  nice -n 10 x86_64-w64-mingw32-gcc-posix -O2 -DSQLITE_THREADSAFE=1 -DSQLITE_ENABLE_FTS5 -DSQLITE_DQS=0 \
    '-DSQLITE_API=__declspec(dllexport)' -shared "$work/sqlite-build/sqlite3.c" -o "$out/bin/sqlite3.dll" \
    -Wl,--out-implib,"$out/lib/libsqlite3.dll.a"
  x86_64-w64-mingw32-strip --strip-unneeded "$out/bin/sqlite3.dll"
  cp "$work/sqlite-build/sqlite3.h" "$src/src/sqlite3ext.h" "$out/include/"
  cp "$src/LICENSE.md" "$out/" 2>/dev/null || true
  pack sqlite-mingw-3.40.1 "$sqlite_archive"
  say "SQLite: $sqlite_archive, $(minutes "$t")"
fi

# --- cpp-httplib ----------------------------------------------------------------------------
# The same version (and Debian's patches) as the Linux build links. Debian's package splits the
# header into a compiled library; on Windows the whole header is compiled into the program, over
# Windows Sockets and without TLS, so only the header (with its licence) goes into the archive.
httplib_archive="$kit/cpp-httplib-mingw-0.11.4.tar.xz"
if [ ! -f "$httplib_archive" ]; then
  t=$(date +%s)
  unpack_source "cpp-httplib=$httplib_version" cpp-httplib
  src="$work/cpp-httplib"
  out="$work/stage/cpp-httplib-mingw-0.11.4"
  rm -rf "$out"
  mkdir -p "$out/include" "$out/lib/pkgconfig"
  cp "$src/httplib.h" "$out/include/"
  cp "$src/LICENSE" "$out/"
  cat >"$out/lib/pkgconfig/cpp-httplib.pc" <<'PC'
prefix=${pcfiledir}/../..
includedir=${prefix}/include

Name: cpp-httplib
Description: A C++ header-only HTTP/HTTPS server and client library (header-only build for MinGW-w64)
Version: 0.11.4
Cflags: -I${includedir}
Libs: -lws2_32
PC
  pack cpp-httplib-mingw-0.11.4 "$httplib_archive"
  say "cpp-httplib: $httplib_archive, $(minutes "$t")"
fi

say "the kit is in $kit ($(minutes "$start") this run)"
