#!/usr/bin/env bash
# The Windows program as an operator gets it, under Wine: cross-builds quillmark.exe
# (preset windows-cross), makes the NSIS installer, tries the Finger client over Windows
# Sockets, installs the program silently into a fresh Wine prefix on a virtual X display,
# tries its command line from a shell and from a console, lets a first start without
# settings play the demo, starts the installed program before the stand-in automation server
# (tests/e2e/com, a process of its own) and the server 10 s later, compares the log with the
# wanted, unwanted and repeated packets the server handed over, ends the program through the
# server's closing event, starts it again on the settings file it wrote, once more with its
# folder read-only, and uninstalls. While the first start runs, its board is asked for its
# state with the key, and --status for its address.
# Usage: scripts/windows-test.sh [--screenshot]   (--screenshot: also into docs/screenshots/)
# Exit: 0 passed, 1 failed, 77 skipped (a tool or the Windows libraries missing).
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"
keep_screenshot=no
[ "${1:-}" = --screenshot ] && keep_screenshot=yes

build=build/windows-cross
out="$root/$build/wine-test"  # logs, settings files and the screenshot of the last run
wine="${QM_WINE64:-/usr/lib/wine/wine64}"
wineserver="${QM_WINESERVER:-/usr/lib/wine/wineserver}"

missing=()
command -v x86_64-w64-mingw32-g++-posix >/dev/null || missing+=(g++-mingw-w64-x86-64-posix)
command -v x86_64-w64-mingw32-widl >/dev/null || missing+=(mingw-w64-tools)
[ -f /usr/include/wine/wine/windows/oaidl.idl ] || missing+=(libwine-dev)
[ -x "$wine" ] && [ -x "$wineserver" ] || missing+=(wine64)
command -v makensis >/dev/null || missing+=(nsis)
for tool in Xvfb xdotool xclip import pdftotext curl; do command -v $tool >/dev/null || missing+=("$tool"); done
if [ ${#missing[@]} -gt 0 ]; then
  echo "SKIPPED: the Windows program test needs ${missing[*]} (scripts/install-deps.sh wine test)"
  exit 77
fi
# The kit where cmake/QmWindowsKit.cmake looks for it.
kit_found=no
for kit in "${QM_WINDOWS_KIT:-}" "$root/../shared/windows" "$root/../../shared/windows" \
  "${XDG_CACHE_HOME:-${HOME:-}/.cache}/quillmark/windows-kit"; do
  [ -n "$kit" ] && [ -f "$kit/qt6-mingw-6.4.2.tar.xz" ] && [ -f "$kit/sqlite-mingw-3.40.1.tar.xz" ] &&
    [ -f "$kit/cpp-httplib-mingw-0.11.4.tar.xz" ] && kit_found=yes
done
if [ $kit_found = no ]; then
  echo "SKIPPED: the Windows program test needs Qt, SQLite and cpp-httplib for MinGW: scripts/build-windows-kit.sh builds them"
  exit 77
fi

now() { date +%s.%N; }
elapsed() { awk -v a="$1" -v b="$(now)" 'BEGIN { printf "%.1f s", b - a }'; }
passed=0
failed=0
check() {  # check "what" command...
  local what=$1
  shift
  if "$@"; then
    passed=$((passed + 1))
    echo "ok    $what"
  else
    failed=$((failed + 1))
    echo "FAIL  $what"
  fi
}

echo "== build (preset windows-cross)"
t=$(now)
cmake --preset windows-cross >/dev/null
cmake --build --preset windows-cross
echo "build: $(elapsed "$t")"
t=$(now)
rm -f "$build"/Quillmark-*-win64.exe
cpack --preset windows-cross >"$build/cpack.log" || { cat "$build/cpack.log"; exit 1; }
installer=$(ls "$build"/Quillmark-*-win64.exe)
echo "installer: $installer ($(du -h "$installer" | cut -f1)), $(elapsed "$t")"
licence_page() {
  grep -qF "MUI_PAGE_LICENSE \"$root/$build/LICENSE.txt\"" "$build/_CPack_Packages/win64/NSIS/project.nsi" &&
    diff -q LICENSE <(tr -d '\r' <"$build/LICENSE.txt") >/dev/null
}
check "the installer's licence page shows LICENSE (GPL-3.0-or-later)" licence_page
t=$(now)
cmake -S tests/e2e/com -B "$build/e2e" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" \
  -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build/e2e" --target uiview32_standin finger_wine_test console_wine_test -j2
standin="$root/$build/e2e/uiview32_standin.exe"
echo "stand-in server and Winsock test: $(elapsed "$t")"

rm -rf "$out"
mkdir -p "$out/signals" "$out/pdf"
export WINEPREFIX WINEARCH=win64 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" LC_ALL=C.UTF-8
WINEPREFIX="$(mktemp -d "${TMPDIR:-/tmp}/qm-wine.XXXXXX")"
unset WAYLAND_DISPLAY
pids=()
cleanup() {
  "$wineserver" -k 2>/dev/null || true
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  rm -rf "$WINEPREFIX"
}
trap cleanup EXIT

# A display of our own; Wine draws the windows inside a desktop window of its own, with
# title bars and frames as on Windows.
for _ in $(seq 20); do
  n=$((100 + RANDOM % 400))
  [ -e /tmp/.X$n-lock ] || break
done
Xvfb ":$n" -screen 0 1280x800x24 -nolisten tcp >"$out/xvfb.log" 2>&1 &
pids+=($!)
export DISPLAY=":$n"
for _ in $(seq 50); do xdotool getdisplaygeometry >/dev/null 2>&1 && break; sleep 0.1; done

echo "== Wine prefix ($WINEPREFIX)"
t=$(now)
timeout 300 "$wine" wineboot -i >/dev/null 2>&1
timeout 120 "$wineserver" -w
# Wine's own fonts (Tahoma, and Marlett for the caption buttons) where this prefix's Windows
# looks for fonts: Debian's Wine keeps them in a folder it does not search itself.
cp /usr/share/wine/fonts/*.ttf "$WINEPREFIX/drive_c/windows/Fonts/" 2>/dev/null || true
timeout 60 "$wine" reg add 'HKCU\Software\Wine\Explorer' /v Desktop /d Default /f >/dev/null 2>&1
timeout 60 "$wine" reg add 'HKCU\Software\Wine\Explorer\Desktops' /v Default /d 1024x720 /f >/dev/null 2>&1
echo "prefix: $(elapsed "$t")"

# Windows paths of Linux files, through Wine's Z: drive.
winpath() { printf 'Z:%s' "${1//\//\\}"; }
dir="$WINEPREFIX/drive_c/Program Files/Quillmark"
menu="$WINEPREFIX/drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs/Quillmark"
uninstall_key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Quillmark'
reg_has() { "$wine" reg query "$1" >/dev/null 2>&1; }

echo "== the Finger client over Windows Sockets"
status=0
timeout 120 "$wine" "$root/$build/e2e/finger_wine_test.exe" >"$out/finger.txt" 2>&1 || status=$?
sed 's/^/  /' "$out/finger.txt"
check "the Finger client's replies, time-outs and errors over Winsock" test "$status" -eq 0

echo "== install"
t=$(now)
status=0
timeout 300 "$wine" "$(winpath "$root/$installer")" /S || status=$?
timeout 120 "$wineserver" -w
echo "install: $(elapsed "$t")"
check "the installer ends with 0 (/S)" test "$status" -eq 0
installed_files=(quillmark.exe Qt6Core.dll Qt6Gui.dll Qt6Widgets.dll Qt6Network.dll Qt6PrintSupport.dll
  platforms/qwindows.dll platforms/qoffscreen.dll styles/qwindowsvistastyle.dll imageformats/qico.dll sqlite3.dll libstdc++-6.dll
  libgcc_s_seh-1.dll libwinpthread-1.dll samples/demo-traffic.txt copyright.txt LICENSE.txt Uninstall.exe)
all_there() { for f in "${installed_files[@]}"; do [ -f "$dir/$f" ] || { echo "  missing: $f"; return 1; }; done; }
check "the program, Qt, SQLite and the MinGW runtime are in Program Files\\Quillmark" all_there
check "the Start menu has Quillmark and Uninstall" test -f "$menu/Quillmark.lnk" -a -f "$menu/Uninstall.lnk"
check "Windows knows the uninstaller" reg_has "$uninstall_key"

echo "== the command line, from a shell and from a console"
version_line="Quillmark $(sed -n 's/.*ReleaseText = "\(.*\)";/\1/p' "$build/generated/QuillmarkVersion.h")"
prints_version() {  # prints_version COMMAND...: the version line and exit code 0
  local text status=0
  text=$(timeout 60 "$@" "$dir/quillmark.exe" --version 2>"$out/version-stderr.txt") || status=$?
  [ "$status" -eq 0 ] && [ "$(tr -d '\r' <<<"$text")" = "$version_line" ] ||
    { echo "  exit $status, printed: $text"; return 1; }
}
check "wine64 quillmark.exe --version prints \"$version_line\"" prints_version "$wine"
if command -v wine >/dev/null; then
  check "wine quillmark.exe --version prints it too" prints_version wine
fi
status=0
timeout 300 "$wine" "$root/$build/e2e/console_wine_test.exe" "$(winpath "$dir/quillmark.exe")" "$version_line" \
  >"$out/console.txt" 2>&1 || status=$?
sed 's/^/  /' "$out/console.txt"
check "--version, --help and bad options on the console it was started from, exit codes 0 and 2" test "$status" -eq 0

# The operator's choices before the first start: bulletins and announcements as well.
# Four messages a page: the fifth wanted one makes a page of all five before the end (the
# end itself prints nothing; what is unprinted waits for the next start).
printf '[Settings]\r\ncbThisStation.Checked=True\r\ncbBull.Checked=True\r\ncbAnn.Checked=True\r\nedMsgCount.Text=4\r\n' >"$dir/Quillmark.ini"

# Pages go to PDF files of the program's own; the first start prints on the CUPS queue of
# the printing tests through Wine's printing when the queue is there (scripts/test.sh
# starts it), as a Windows program prints on a Windows printer.
print_to=(--print-to-pdf "$(winpath "$out/pdf")")
cups_pdfs=/var/spool/quillmark-pdf  # where the queue's PDF writer puts each job
program_pid=
launch=()  # what both are started through (the read-only run below)
# start_standin NAME PACKETS: the stand-in server, once it offers its objects.
start_standin() {
  "${launch[@]}" timeout 400 "$wine" "$standin" Q0WIN-9 "$(winpath "$2")" "$(winpath "$out/signals")" >"$out/$1-standin.txt" 2>&1 &
  standin_pid=$!
  for _ in $(seq 300); do grep -qs 'standin: running' "$out/$1-standin.txt" && break; sleep 0.1; done
}
# start_program NAME: the installed program, from its folder.
start_program() {
  (cd "$dir" && exec "${launch[@]}" timeout 400 "$wine" ./quillmark.exe "${print_to[@]}") \
    >"$out/$1-program.txt" 2>&1 &
  program_pid=$!
}
# await_sent NAME: until the stand-in has handed over every packet (or given up).
await_sent() {
  for _ in $(seq 1200); do grep -qs -e 'standin: sent' -e 'did not' "$out/$1-standin.txt" && break; sleep 0.1; done
}
# run_program NAME PACKETS: the stand-in, then the program, until every packet is handed over.
run_program() {
  rm -f "$out/signals/close"
  start_standin "$1" "$2"
  start_program "$1"
  await_sent "$1"
}
# The program's error boxes (their title), and the text of one: Qt's message box copies it
# with Ctrl+C, and Wine hands the clipboard to X.
boxes() { xdotool search --onlyvisible --name '^Message Printing for UI-View32$' 2>/dev/null || true; }
box_text() {
  local text
  for _ in $(seq 20); do
    xdotool windowfocus "$1" 2>/dev/null || true
    xdotool key ctrl+c
    text=$(xclip -o -selection clipboard 2>/dev/null | tr -d '\r' | sed -n 4p)
    [ -n "$text" ] && { echo "$text"; return; }
    sleep 0.5
  done
}
desktop_shot() {  # desktop_shot FILE
  local desktop
  desktop=$(xdotool search --name '^Default - Wine desktop' 2>/dev/null | head -1 || true)
  import -window "${desktop:-root}" "$1" 2>/dev/null || import -window root "$1"
}
# The log lines without their time stamps, in UTF-8 (the program writes the ANSI code page).
logs="$dir"
log_texts() {
  cat "$logs"/Quillmark\ *.log 2>/dev/null | iconv -f CP1252 -t UTF-8 | sed -E 's/^<[0-9]{2}:[0-9]{2}:[0-9]{2}\.[0-9]{3}> //; s/\r$//'
}
# Waits until the log holds as many lines as expected (the logger writes on its own thread).
await_log() { for _ in $(seq 300); do [ "$(log_texts | wc -l)" -ge "$1" ] && return 0; sleep 0.1; done; return 1; }
same_lines() {
  if ! diff -u "$1" "$2" >"$out/diff.txt"; then sed 's/^/  /' "$out/diff.txt"; return 1; fi
}
stamped() { ! LC_ALL=C grep -a -v -E '^<[0-9]{2}:[0-9]{2}:[0-9]{2}\.[0-9]{3}> .*'$'\r''$' "$logs"/Quillmark\ *.log; }
# end_program: raises the closing event and waits for both to end; their exit codes.
end_program() {
  touch "$out/signals/close"
  program_status=0
  wait "$program_pid" || program_status=$?
  standin_status=0
  wait "$standin_pid" || standin_status=$?
}

echo "== a first start with no settings and no station program: the bundled demo"
t=$(now)
demo_config="$out/demo-config"
mkdir -p "$demo_config"
status=0
# With a display the window stays open when the demo is over, for the operator to choose a
# source (without one the program ends by itself, which the Linux tests show).
(cd "$dir" && exec timeout 300 "$wine" ./quillmark.exe --config "$(winpath "$demo_config")" --pace 0) \
  >"$out/demo-program.txt" 2>&1 &
demo_pid=$!
for _ in $(seq 1200); do ls "$demo_config"/demo-pages/*.pdf >/dev/null 2>&1 && break; sleep 0.1; done
sleep 5  # the rest of the demo at full pace
still_open=no
kill -0 "$demo_pid" 2>/dev/null && still_open=yes
echo "demo: $(elapsed "$t")"
check "with a display the window stays open when the demo is over" test $still_open = yes
"$wineserver" -k 2>/dev/null || true
wait "$demo_pid" 2>/dev/null || true
demo_on_pdf() {
  local file
  for file in "$demo_config"/demo-pages/*.pdf; do
    pdftotext "$file" - 2>/dev/null | grep -q 'Q0DEMO-9' && return 0
  done
  echo "  no demo page in $demo_config/demo-pages"
  return 1
}
check "its pages are PDF files in demo-pages beside its logs, not paper" demo_on_pdf

echo "== first start: packets from the stand-in server"
t=$(now)
if lpstat -p Quillmark-PDF >/dev/null 2>&1 && [ -d "$cups_pdfs" ]; then
  print_to=(--printer Quillmark-PDF)
  touch "$out/first-start"
  echo "  printing on the CUPS queue Quillmark-PDF through Wine"
else
  echo "  no CUPS queue Quillmark-PDF (scripts/cups-pdf-queue.sh start): printing to PDF files"
fi
# The station program is not running when the program starts: one box says so and what to
# do, and the window waits for it without another; 10 s later it starts and is taken.
rm -f "$out/signals/close"
start_program first
started=$(now)
for _ in $(seq 600); do [ -n "$(boxes)" ] && break; sleep 0.1; done
box=$(boxes | head -1)
not_running="The station program is not running. Start it and Quillmark attaches to it; or choose another source on the Connection page."
said=""
[ -n "$box" ] && said=$(box_text "$box")
[ "$said" = "$not_running" ] || echo "  the box says: ${said:-nothing}"
check "without the station program one box says what is missing and what to do" test "$said" = "$not_running"
[ -n "$box" ] && xdotool key Return
gone() { for _ in $(seq 100); do [ -z "$(boxes)" ] && return 0; sleep 0.1; done; return 1; }
check "OK closes it" gone
# The rest of the 10 s: the window keeps waiting, quietly.
second_box=no
while awk -v a="$started" -v b="$(now)" 'BEGIN { exit !(b - a < 10) }'; do
  [ -n "$(boxes)" ] && second_box=yes
  sleep 0.2
done
check "no other box while the station program stays away" test $second_box = no
desktop_shot "$out/waiting.png"  # the hint bar shows the state
start_standin first "$root/tests/e2e/com/program-packets.txt"
await_sent first
check "the station program started 10 s later is taken without another box" test -z "$(boxes)"
# The box of the first start (no station program yet) is logged too; the page once printed.
{ echo "The station program is not running. Start it and Quillmark attaches to it; or choose another source on the Connection page."
  cat tests/e2e/com/program-log.txt
  echo "Page printed: 5 messages, on Quillmark-PDF"; } >"$out/expected-log.txt"
await_log "$(wc -l <"$out/expected-log.txt")" || true
check "the program subscribed and asked for the callsign" grep -q 'standin: subscribed' "$out/first-standin.txt"

# The board, served by the Windows program over Windows Sockets: its state with the key from
# the token file beside the program, a refusal without it, and --status naming its address.
board="http://127.0.0.1:8073"
token=$(tr -d '\r\n' <"$dir/Quillmark-board.token" 2>/dev/null || true)
board_state() {
  local code
  code=$(curl -sS -m 10 -o "$out/board-state.json" -w '%{http_code}' -H "Authorization: Bearer $token" \
    "$board/api/state") || { echo "  no answer from $board"; return 1; }
  [ "$code" = 200 ] && grep -qF '"state":"Connected to UI-View32"' "$out/board-state.json" ||
    { echo "  $code: $(head -c 300 "$out/board-state.json")"; return 1; }
}
check "the board answers its state with the key (Bearer, from Quillmark-board.token)" board_state
board_refuses() { [ "$(curl -sS -m 10 -o /dev/null -w '%{http_code}' "$board/api/state")" = 401 ]; }
check "the board refuses its state without the key (401)" board_refuses
status_names_board() {
  local text
  text=$(cd "$dir" && timeout 60 "$wine" ./quillmark.exe --status 2>"$out/status-stderr.txt" | tr -d '\r') || true
  grep -qxF "Board: $board/?token=$token" <<<"$text" || { echo "  --status printed: $text"; return 1; }
}
check "--status names the board's address" status_names_board

window=$(xdotool search --name '^Quillmark v' 2>/dev/null | head -1 || true)
check "the window is shown" test -n "$window"
if [ -n "$window" ]; then
  sleep 1  # the last entry drawn and the clock ticked
  desktop_shot "$out/windows-wine.png"
  [ $keep_screenshot = yes ] && cp "$out/windows-wine.png" docs/screenshots/windows-wine.png
fi

echo "== the station program closes"
end_program
echo "first run: $(elapsed "$t")"
sed 's/^/  /' "$out/first-standin.txt"
check "the program ended with 0 on the closing event" test "$program_status" -eq 0
log_texts >"$out/first-log.txt"
check "every wanted message is logged once, every repeat as a duplicate, nothing unwanted" \
  same_lines "$out/expected-log.txt" "$out/first-log.txt"
check "every log line starts with its UTC time stamp and ends in CR LF" stamped
check "the server saw the program unsubscribe" test "$standin_status" -eq 0
# The page with every entry of the first start: among our PDF files, or among the queue's
# jobs since the start (other tests may print there meanwhile; the spooler takes a moment).
page_text() {
  local file
  for file in $(ls -t "$out"/pdf/*.pdf 2>/dev/null) \
    $([ -e "$out/first-start" ] && find "$cups_pdfs" -name '*.pdf' -newer "$out/first-start" 2>/dev/null); do
    pdftotext -layout "$file" - 2>/dev/null | grep -q 'Hello from the stand-in' && { pdftotext -layout "$file" -; return; }
  done
}
printed_all() {
  local text
  for _ in $(seq 120); do
    text=$(page_text)
    [ -n "$text" ] && break
    sleep 0.5
  done
  for body in 'Hello from the stand-in' 'Reply from here' 'Club meeting Thursday' 'Café au lait for 5 €' \
    'Hamfest in June'; do
    grep -qF "$body" <<<"$text" || { echo "  not on the page: $body"; return 1; }
  done
}
check "the page of all five went to paper (${print_to[*]:0:2})" printed_all
print_to=(--print-to-pdf "$(winpath "$out/pdf")")
cp "$dir/Quillmark.ini" "$out/first.ini"
ini_has() { grep -qxF "$1"$'\r' "$out/first.ini"; }
ini_as_designed() {
  for line in '[Info]' 'Version=1.3.3.1' '[Settings]' 'cbBull.Checked=True' 'cbAnn.Checked=True' \
    'cbNWSWatches.Checked=False' '[FormState]' '[StateSelection]' '[Settings.clbStates.Items]' 'Count=52'; do
    ini_has "$line" || { echo "  not in Quillmark.ini: $line"; return 1; }
  done
  # Every line ends in CR LF.
  ! grep -qv $'\r$' "$out/first.ini"
}
check "Quillmark.ini beside the program holds the version, the choices and the placement" ini_as_designed

echo "== second start: the settings file read back"
t=$(now)
run_program second "$root/tests/e2e/com/program-packets-again.txt"
# The two wanted messages of the second start make no page: the end keeps them for the next one.
{ cat "$out/first-log.txt" tests/e2e/com/program-log-again.txt
  echo "2 unprinted messages are kept for the next start"; } >"$out/expected-log.txt"
end_program
log_texts >"$out/second-log.txt"
check "the stored choices hold on the second start (a bulletin wanted)" \
  same_lines "$out/expected-log.txt" "$out/second-log.txt"
echo "second run: $(elapsed "$t")"
check "the second start ended with 0 on the closing event" test "$program_status" -eq 0 -a "$standin_status" -eq 0
# Every key with its section and value; the state lists are erased and written anew at each
# save, so their sections move to the end of the file.
ini_keys() { awk '/^\[/ { section = $0; next } { print section $0 }' "$1" | sort; }
ini_keys "$dir/Quillmark.ini" >"$out/second-keys.txt"
ini_keys "$out/first.ini" >"$out/first-keys.txt"
check "Quillmark.ini reads back: the same keys and values after the second start" \
  same_lines "$out/first-keys.txt" "$out/second-keys.txt"

# Windows keeps a standard user out of Program Files; Wine does not, so the folder is made
# read-only for this run with a bind mount in a mount namespace of its own, in which Wine's
# server starts too.
echo "== a folder the program cannot write: the user's application-data folders"
"$wineserver" -k 2>/dev/null || true
timeout 60 "$wineserver" -w || true
appdata="$WINEPREFIX/drive_c/users/$(id -un)/AppData"
ro_mount='mount --bind "$1" "$1" && mount -o remount,bind,ro "$1" && shift && exec "$@"'
if unshare -m --propagation private sh -c "$ro_mount" sh "$out" true 2>/dev/null; then
  t=$(now)
  find "$dir" -type f -printf '%P %s\n' | sort >"$out/folder-before.txt"
  launch=(unshare -m --propagation private sh -c "$ro_mount" sh "$dir")
  logs="$appdata/Local/Quillmark"
  run_program readonly "$root/tests/e2e/com/program-packets-again.txt"
  # A first start there: the default choices (messages to and from this station only).
  { grep -F 'Q0WIN-9  :' tests/e2e/com/program-log-again.txt
    echo "1 unprinted messages are kept for the next start"; } >"$out/expected-log.txt"
  end_program
  log_texts >"$out/readonly-log.txt"
  check "the logs are written in %LOCALAPPDATA%\\Quillmark" same_lines "$out/expected-log.txt" "$out/readonly-log.txt"
  "$wineserver" -k 2>/dev/null || true
  timeout 60 "$wineserver" -w || true
  launch=()
  logs="$dir"
  echo "read-only run: $(elapsed "$t")"
  check "it ended with 0 on the closing event" test "$program_status" -eq 0 -a "$standin_status" -eq 0
  check "the settings are in %APPDATA%\\Quillmark\\Quillmark.ini" \
    grep -qxF $'Version=1.3.3.1\r' "$appdata/Roaming/Quillmark/Quillmark.ini"
  find "$dir" -type f -printf '%P %s\n' | sort >"$out/folder-after.txt"
  check "nothing in the program's folder changed" same_lines "$out/folder-before.txt" "$out/folder-after.txt"
else
  echo "SKIPPED: no mount namespace here (unshare -m needs root); the read-only folder is not tried"
fi

echo "== uninstall"
t=$(now)
status=0
timeout 300 "$wine" "$(winpath "$dir/Uninstall.exe")" /S || status=$?
timeout 120 "$wineserver" -w  # the uninstaller runs on from a copy of itself
echo "uninstall: $(elapsed "$t")"
check "the uninstaller ends with 0 (/S)" test "$status" -eq 0
none_left() { for f in "${installed_files[@]}"; do [ ! -e "$dir/$f" ] || { echo "  left: $f"; return 1; }; done; }
check "no installed file is left" none_left
left=$(cd "$dir" 2>/dev/null && find . -type f | sed 's|^\./||' | sort | tr '\n' ' ')
echo "  left in the folder (the operator's files): ${left:-nothing}"
only_own() { [ -z "$(cd "$dir" && find . -type f ! -name 'Quillmark.ini' ! -name 'Quillmark *.log' ! -name 'Quillmark-messages.db*' ! -name 'Quillmark-board.token')" ]; }
check "only the operator's settings, logs and message store stay" only_own
check "the Start menu entries are gone" test ! -e "$menu"
check "Windows no longer lists the program" eval '! reg_has "$uninstall_key"'

echo "windows-test: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
