#!/usr/bin/env bash
# Takes the screenshots of several sources under a virtual X display, into docs/screenshots/:
# the window and the tray with one source down and its notice (sources-link-down.png), the
# Connection page with two sources (sources-connection.png) and with three
# (sources-connection-three.png). The first source is a loopback KISS TCP peer that hands over
# a few frames; the second an APRS-IS server that is not there; the third a KISS TNC that is
# not there either. The program runs on a
# private settings and data folder (--config). Needs xvfb, imagemagick, xdotool, trayer, python3.
# Usage: scripts/screenshots-sources.sh [path/to/quillmark]   (default: build/default/app/quillmark)
# QM_SCREENSHOT_DISPLAY picks the virtual display (default :97).
set -euo pipefail
cd "$(dirname "$0")/.."
exe=${1:-build/default/app/quillmark}
out=docs/screenshots
display=${QM_SCREENSHOT_DISPLAY:-:97}
mkdir -p "$out"
[ -x "$exe" ] || { echo "screenshots-sources: $exe not built" >&2; exit 1; }
for tool in Xvfb import xdotool trayer python3; do
  command -v "$tool" >/dev/null || { echo "screenshots-sources: $tool missing" >&2; exit 1; }
done
work=$(mktemp -d)
pids=()
cleanup() {
  for ((i = ${#pids[@]} - 1; i >= 0; i--)); do kill "${pids[i]}" 2>/dev/null || true; wait "${pids[i]}" 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT

# The TNC: KISS frames of AX.25 UI packets, sent once a client is attached; then it stays open.
cat >"$work/tnc.py" <<'PY'
import socket, sys, time
def addr(call, last):
    call, _, ssid = call.partition("-")
    b = bytes(ord(c) << 1 for c in call.ljust(6))
    return b + bytes([0x60 | (int(ssid or 0) << 1) | (1 if last else 0)])
def kiss(src, info):
    frame = addr("APRS", False) + addr(src, True) + b"\x03\xf0" + info.encode()
    return b"\xc0\x00" + frame.replace(b"\xdb", b"\xdb\xdd").replace(b"\xc0", b"\xdb\xdc") + b"\xc0"
packets = [("W5EOC-1", ":N0CALL-5 :Shelter at Lincoln school open, 120 cots{17"),
           ("W5EOC-1", ":BLN1     :Net control on 146.520 simplex until 2200"),
           ("KD5XYZ-7", ":N0CALL-5 :Road 14 closed at the bridge, water over deck{3"),
           ("KD5XYZ-7", "!3514.20N/09731.50W>")]
server = socket.socket(); server.bind(("127.0.0.1", 0)); server.listen(1)
closed = socket.socket(); closed.bind(("127.0.0.1", 0)); gone = closed.getsockname()[1]; closed.close()
print(server.getsockname()[1], gone, flush=True)
client, _ = server.accept()
for src, info in packets:
    client.sendall(kiss(src, info)); time.sleep(0.3)
while client.recv(4096): pass
PY
python3 "$work/tnc.py" >"$work/ports" &
pids+=($!)
for _ in $(seq 50); do [ -s "$work/ports" ] && break; sleep 0.1; done
read -r tnc_port gone_port <"$work/ports"

# settings COUNT: the settings file of a run with COUNT sources, in $work/config-COUNT.
settings() {
  mkdir -p "$work/config-$1"
  {
    printf '%s\r\n' '[Settings]' 'cbBull.Checked=True' \
      '[Connection]' 'Transport=kiss-tcp' 'Server=127.0.0.1' "Port=$tnc_port" 'Callsign=N0CALL-5' \
      '[Connection2]' 'Transport=aprs-is' 'Server=127.0.0.1' "Port=$gone_port" 'Callsign=N0CALL-5' 'Filter=t/m'
    [ "$1" -lt 3 ] ||
      printf '%s\r\n' '[Connection3]' 'Transport=kiss-tcp' 'Server=127.0.0.1' "Port=$gone_port" 'Callsign=N0CALL-5'
  } >"$work/config-$1/Quillmark.ini"
}
settings 2
settings 3

Xvfb "$display" -screen 0 1024x600x24 -nolisten tcp &
pids+=($!)
export DISPLAY=$display
for _ in $(seq 50); do xdotool getdisplaygeometry >/dev/null 2>&1 && break; sleep 0.1; done
backdrop="$work/backdrop.png"
convert -size 1024x600 xc:'#5f7f9f' "$backdrop" && display -window root "$backdrop" 2>/dev/null || true
trayer --edge bottom --align right --widthtype pixel --width 48 --heighttype pixel --height 24 \
  --transparent false --tint 0xd0d0d0 --SetDockType true >/dev/null 2>&1 &
pids+=($!)
sleep 1

"$exe" --config "$work/config-2" --web off -platform xcb &
pids+=($!)
win=$(xdotool search --sync --onlyvisible --name '^Quillmark v' | head -1)
xdotool windowmove "$win" 20 20
sleep 3  # the frames arrive, APRS-IS is refused and retried

# The whole screen: the red link status in the window and the red mark on the tray icon, with
# the icon's tip naming each source.
xdotool mousemove 1012 588
sleep 2
import -window root "$out/sources-link-down.png"
xdotool mousemove 700 300
sleep 0.5
eval "$(xdotool getwindowgeometry --shell "$win")"
xdotool mousemove $((X + 425)) $((Y + 26)) click 1  # the Connection tab
xdotool mousemove 1000 590
sleep 1
eval "$(xdotool getwindowgeometry --shell "$win")"
import -window root -crop "${WIDTH}x${HEIGHT}+${X}+${Y}" +repage "$out/sources-connection.png"
kill "${pids[-1]}" && wait "${pids[-1]}" 2>/dev/null || true
unset 'pids[-1]'

# Three sources: the TNC is heard again by the second run (the peer takes one client), so
# only the other two's states matter here.
"$exe" --config "$work/config-3" --web off -platform xcb &
pids+=($!)
for _ in $(seq 100); do
  win=$(xdotool search --onlyvisible --name '^Quillmark v' 2>/dev/null | head -1 || true)
  [ -n "$win" ] && break
  sleep 0.1
done
xdotool windowmove "$win" 20 20
sleep 3
eval "$(xdotool getwindowgeometry --shell "$win")"
xdotool mousemove $((X + 425)) $((Y + 26)) click 1
xdotool mousemove 1000 590
sleep 1
eval "$(xdotool getwindowgeometry --shell "$win")"
import -window root -crop "${WIDTH}x${HEIGHT}+${X}+${Y}" +repage "$out/sources-connection-three.png"
echo "screenshots-sources: written to $out"
