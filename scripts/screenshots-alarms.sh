#!/usr/bin/env bash
# Takes the alarms' screenshots under a virtual X display, into docs/screenshots/: the banner
# and the tray with one alarm (alarm-banner.png), with three (alarm-banner-several.png), and
# the Alarms page with its choices (alarm-options.png). A loopback KISS TCP peer hands over
# a message to the own station,
# then, once asked, a bulletin and another message. The program runs on a private settings and
# data folder (--config). Needs xvfb, imagemagick, xdotool, trayer, python3.
# Usage: scripts/screenshots-alarms.sh [path/to/quillmark]   (default: build/default/app/quillmark)
# QM_SCREENSHOT_DISPLAY picks the virtual display (default :96).
set -euo pipefail
cd "$(dirname "$0")/.."
exe=${1:-build/default/app/quillmark}
out=docs/screenshots
display=${QM_SCREENSHOT_DISPLAY:-:96}
mkdir -p "$out"
[ -x "$exe" ] || { echo "screenshots-alarms: $exe not built" >&2; exit 1; }
for tool in Xvfb import xdotool trayer python3; do
  command -v "$tool" >/dev/null || { echo "screenshots-alarms: $tool missing" >&2; exit 1; }
done
work=$(mktemp -d)
pids=()
cleanup() {
  for ((i = ${#pids[@]} - 1; i >= 0; i--)); do kill "${pids[i]}" 2>/dev/null || true; wait "${pids[i]}" 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT

# The TNC: the first frame once a client is attached, the others when the file "more" appears.
cat >"$work/tnc.py" <<'PY'
import os, socket, sys, time
def addr(call, last):
    call, _, ssid = call.partition("-")
    b = bytes(ord(c) << 1 for c in call.ljust(6))
    return b + bytes([0x60 | (int(ssid or 0) << 1) | (1 if last else 0)])
def kiss(src, info):
    frame = addr("APRS", False) + addr(src, True) + b"\x03\xf0" + info.encode()
    return b"\xc0\x00" + frame.replace(b"\xdb", b"\xdb\xdd").replace(b"\xc0", b"\xdb\xdc") + b"\xc0"
first = [("W5EOC-1", ":N0CALL-5 :Shelter at Lincoln school needs 40 cots by 1800, please call{17")]
more = [("W5EOC-1", ":BLN1     :Net control on 146.520 simplex until 2200"),
        ("KD5XYZ-7", ":N0CALL-5 :Road 14 closed at the bridge, water over deck{3")]
server = socket.socket(); server.bind(("127.0.0.1", 0)); server.listen(1)
print(server.getsockname()[1], flush=True)
client, _ = server.accept()
for src, info in first:
    client.sendall(kiss(src, info))
while not os.path.exists(sys.argv[1]): time.sleep(0.1)
for src, info in more:
    client.sendall(kiss(src, info)); time.sleep(0.3)
while client.recv(4096): pass
PY
python3 "$work/tnc.py" "$work/more" >"$work/port" &
pids+=($!)
for _ in $(seq 50); do [ -s "$work/port" ] && break; sleep 0.1; done
read -r tnc_port <"$work/port"

mkdir "$work/config"
printf '%s\r\n' '[Settings]' 'cbBull.Checked=True' 'cbNWSWarnings.Checked=True' \
  '[Alarms]' 'Kinds=own,bulletin,warning' 'RepeatSeconds=60' \
  '[Connection]' 'Transport=kiss-tcp' 'Server=127.0.0.1' "Port=$tnc_port" 'Callsign=N0CALL-5' \
  >"$work/config/Quillmark.ini"

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

"$exe" --config "$work/config" -platform xcb &
pids+=($!)
win=$(xdotool search --sync --onlyvisible --name '^Quillmark v' | head -1)
xdotool windowmove "$win" 20 20
sleep 3  # the first message arrives and alarms

# The whole screen: the banner above the list and the mark on the tray icon.
xdotool mousemove 1000 560
sleep 1
import -window root "$out/alarm-banner.png"
touch "$work/more"
sleep 3
import -window root "$out/alarm-banner-several.png"
shot_window() {  # name
  eval "$(xdotool getwindowgeometry --shell "$win")"
  import -window root -crop "${WIDTH}x${HEIGHT}+${X}+${Y}" +repage "$out/$1.png"
}
eval "$(xdotool getwindowgeometry --shell "$win")"
xdotool mousemove $((X + 495)) $((Y + 26)) click 1  # the Alarms tab
xdotool mousemove 1000 560
sleep 1
shot_window alarm-options
echo "screenshots-alarms: written to $out"
