#!/usr/bin/env bash
# Makes the Debian package from a build folder and checks it the way a user gets it: the
# desktop entry, the AppStream file and the package pass their checkers (lintian: no
# errors), the package installs with its dependencies, the installed program replays the
# demo traffic from /usr/share/quillmark and logs the messages, and removing the package
# leaves none of its files behind.
# Usage: scripts/package-test.sh [build folder]   (default: build/default; as root)
# The package is installed and removed again, so a quillmark package already installed
# stops the test. The demo run never prints: printing is off in its settings and it sees
# no CUPS server.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/default}

die() { echo "package-test: $*" >&2; exit 1; }
[ "$(id -u)" -eq 0 ] || die "run as root: the test installs and removes the package"
command -v dpkg >/dev/null || die "dpkg missing: the package is a Debian package"
[ -f "$build/CPackConfig.cmake" ] || die "$build has no CPackConfig.cmake (a build of the program, QM_GUI on, on Linux?)"
if dpkg-query -W -f='${Status}' quillmark 2>/dev/null | grep -q 'ok installed'; then
  die "a quillmark package is installed already; remove it first (apt-get remove quillmark)"
fi
scripts/install-deps.sh package

work=$(mktemp -d)
chmod 0755 "$work"  # apt reads the package as its own user
installed=no
cleanup() {
  if [ "$installed" = yes ]; then apt-get remove -y -qq quillmark >/dev/null 2>&1 || true; fi
  rm -rf "$work"
}
trap cleanup EXIT

echo "== package from $build"
cmake --build "$build" --target quillmark qm_packaging_data
cpack -G DEB --config "$build/CPackConfig.cmake" -B "$work/out" >"$work/cpack.log" || { cat "$work/cpack.log"; die "cpack failed"; }
deb=$(find "$work/out" -maxdepth 1 -name 'quillmark_*.deb' -print -quit)
[ -n "$deb" ] || die "cpack made no quillmark_*.deb"
version=$(dpkg-deb -f "$deb" Version)
depends=$(dpkg-deb -f "$deb" Depends)
echo "$(basename "$deb"): $depends"
# libcups is loaded when the spooler is first asked: no linker entry brings it in.
[[ ", $depends," == *", libcups2"[\ ,]* ]] || die "the package does not depend on libcups2"

echo "== desktop entry, AppStream file, lintian"
dpkg-deb -x "$deb" "$work/root"
desktop-file-validate "$work"/root/usr/share/applications/*.desktop
appstreamcli validate --no-net "$work"/root/usr/share/metainfo/*.metainfo.xml
lintian --fail-on error "$deb" || die "lintian found errors"

echo "== install"
DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "$deb" >"$work/apt.log" 2>&1 || { cat "$work/apt.log"; die "apt-get install failed"; }
installed=yes
mapfile -t files < <(dpkg -L quillmark | while read -r f; do [ -f "$f" ] && echo "$f"; done)
for f in /usr/bin/quillmark /usr/share/quillmark/demo-traffic.txt /usr/share/man/man1/quillmark.1.gz \
  /usr/share/applications/org.quillmark.Quillmark.desktop /usr/share/metainfo/org.quillmark.Quillmark.metainfo.xml; do
  [ -f "$f" ] || die "$f is not installed"
done
echo "installed: ${#files[@]} files"

# The installed program runs as a user would: as nobody, with its own home, so its
# settings and logs go to the XDG folders there. CUPS_SERVER points at no server.
as_user() {  # home: sets the command prefix "user"
  user=(env -i PATH=/usr/bin:/bin HOME="$1" LANG=C.UTF-8 QT_QPA_PLATFORM=offscreen
    CUPS_SERVER="$work/no-cups.sock" timeout 120 setpriv --reuid=nobody --regid=nogroup --clear-groups)
}
new_home() {  # folder: an empty home, as a new user's
  mkdir -p "$1"
  chown -R nobody:nogroup "$1"
}

echo "== quillmark --version"
new_home "$work/home-version"
as_user "$work/home-version"
out=$("${user[@]}" /usr/bin/quillmark --version) || die "quillmark --version ended with status $?"
[ "$out" = "Quillmark $version" ] || die "quillmark --version printed \"$out\", not \"Quillmark $version\""
echo "$out"
# The menu entry starts the same program: its command line, with --version added, answers too.
exec_line=$(sed -n 's/^Exec=//p' /usr/share/applications/org.quillmark.Quillmark.desktop)
read -r -a exec_words <<<"${exec_line//%[fFuU]/}"
menu_out=$("${user[@]}" "${exec_words[@]}" --version) || die "the menu entry's command \"$exec_line\" failed"
[ "$menu_out" = "$out" ] || die "the menu entry's command printed \"$menu_out\""
echo "menu entry: $exec_line"
rc=0
"${user[@]}" /usr/bin/quillmark --pace fast >/dev/null 2>&1 || rc=$?
[ "$rc" -eq 2 ] || die "a bad option ended with status $rc, not 2"

echo "== first start: the demo replay from the installed files"
new_home "$work/home"
# The build knows the source tree's demo traffic as a last resort; hiding that folder in a
# mount namespace leaves the program only the installed copy.
src=$(sed -n 's/^Quillmark_SOURCE_DIR:STATIC=//p' "$build/CMakeCache.txt")
hide="mount -t tmpfs -o ro none '$src/samples'"
if ! unshare --mount --propagation private sh -c "$hide" 2>/dev/null; then
  echo "package-test: NOTE: no mount namespace here; the run could also read $src/samples"
  hide=true
fi
as_user "$work/home"
rc=0
unshare --mount --propagation private sh -c "$hide && exec \"\$@\"" sh "${user[@]}" /usr/bin/quillmark --pace 0 \
  >"$work/run.log" 2>&1 || rc=$?
[ "$rc" -eq 0 ] || { cat "$work/run.log"; die "the demo run ended with status $rc (124: did not end within 120 s)"; }
logs=("$work"/home/.local/share/Quillmark/quillmark*.log)
[ -f "${logs[0]}" ] || { cat "$work/run.log"; die "the demo run wrote no log in ~/.local/share/Quillmark"; }
packets=$(cat "${logs[@]}" | grep -cE '^<[0-9:.]+> [A-Z0-9-]+>[^:]*:' || true)
[ "$packets" -gt 0 ] || die "the demo run's log has no packet lines"
[ -f "$work/home/.config/Quillmark/Quillmark.ini" ] || die "the first start wrote no ~/.config/Quillmark/Quillmark.ini"
pages=$(find "$work/home/.local/share/Quillmark/demo-pages" -name 'quillmark-*.pdf' 2>/dev/null | wc -l)
[ "$pages" -gt 0 ] || { cat "$work/run.log"; die "the demo's pages are not PDF files in ~/.local/share/Quillmark/demo-pages"; }
echo "demo run: exit 0, $packets messages logged, $pages pages as PDF files"
# Run as root the installed program still keeps its files out of /usr/bin.
env -i PATH=/usr/bin:/bin HOME="$work/home-root" QT_QPA_PLATFORM=offscreen CUPS_SERVER="$work/no-cups.sock" \
  timeout 120 /usr/bin/quillmark --pace 0 >"$work/root.log" 2>&1 || { cat "$work/root.log"; die "the run as root failed"; }
[ ! -e /usr/bin/Quillmark.ini ] || die "the program wrote /usr/bin/Quillmark.ini"

echo "== remove"
DEBIAN_FRONTEND=noninteractive apt-get remove -y -qq quillmark >"$work/apt.log" 2>&1 || { cat "$work/apt.log"; die "apt-get remove failed"; }
installed=no
dpkg-query -W -f='${Status}' quillmark 2>/dev/null | grep -q 'ok installed' && die "quillmark is still installed"
left=()
for f in "${files[@]}"; do [ ! -e "$f" ] || left+=("$f"); done
[ ${#left[@]} -eq 0 ] || die "left behind: ${left[*]}"
[ ! -e /usr/share/quillmark ] || die "/usr/share/quillmark is left behind"
echo "package-test: $(basename "$deb") passed"
