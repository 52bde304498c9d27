#!/usr/bin/env bash
# Takes the screenshots of sending under a virtual X display, into docs/screenshots/: the
# compose box with the messages sent and a text it refuses as typed (send-compose.png), and
# the board's list of what was sent with its form (board-sent.png, headless Chromium), and
# the first page of today's communications log, both directions (ics309.png). The
# desk hears a loopback KISS TCP TNC that acknowledges the first message it carries and
# leaves the second unanswered. The program runs on a private settings and data folder.
# Needs xvfb, imagemagick, xdotool, python3, chromium and pdftoppm (poppler).
# Usage: scripts/screenshots-sending.sh [path/to/quillmark]   (default: build/default/app/quillmark)
# QM_SCREENSHOT_DISPLAY picks the virtual display (default :96).
set -euo pipefail
cd "$(dirname "$0")/.."
exe=${1:-build/default/app/quillmark}
out=docs/screenshots
display=${QM_SCREENSHOT_DISPLAY:-:96}
mkdir -p "$out"
[ -x "$exe" ] || { echo "screenshots-sending: $exe not built" >&2; exit 1; }
for tool in Xvfb import xdotool python3 chromium pdftoppm; do
  command -v "$tool" >/dev/null || { echo "screenshots-sending: $tool missing" >&2; exit 1; }
done
work=$(mktemp -d)
pids=()
cleanup() {
  for ((i = ${#pids[@]} - 1; i >= 0; i--)); do kill "${pids[i]}" 2>/dev/null || true; wait "${pids[i]}" 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT

# The TNC: one message to the desk, then an ack for the first numbered message it is given.
cat >"$work/tnc.py" <<'PY'
import re, socket
def addr(call, last):
    call, _, ssid = call.partition("-")
    b = bytes(ord(c) << 1 for c in call.ljust(6))
    return b + bytes([0x60 | (int(ssid or 0) << 1) | (1 if last else 0)])
def kiss(src, info):
    frame = addr("APRS", False) + addr(src, True) + b"\x03\xf0" + info.encode()
    return b"\xc0\x00" + frame.replace(b"\xdb", b"\xdb\xdd").replace(b"\xc0", b"\xdb\xdc") + b"\xc0"
server = socket.socket(); server.bind(("127.0.0.1", 0)); server.listen(1)
print(server.getsockname()[1], flush=True)
client, _ = server.accept()
client.sendall(kiss("K2XYZ-9", ":Q1ABC-5  :Need 20 cots at Lincoln school{12"))
acked = False
while True:
    data = client.recv(4096)
    if not data: break
    for number in re.findall(rb":K2XYZ-9 *:[^{]*\{([0-9A-Za-z]+)", data):
        if not acked:
            client.sendall(kiss("K2XYZ-9", ":Q1ABC-5  :ack" + number.decode())); acked = True
PY
python3 "$work/tnc.py" >"$work/port" &
pids+=($!)
for _ in $(seq 50); do [ -s "$work/port" ] && break; sleep 0.1; done
read -r tnc_port <"$work/port"
mkdir -p "$work/config"
printf '%s\r\n' '[Connection]' 'Transport=kiss-tcp' 'Server=127.0.0.1' "Port=$tnc_port" 'Callsign=Q1ABC-5' \
  'AnswerMessages=1' >"$work/config/Quillmark.ini"

Xvfb "$display" -screen 0 1024x600x24 -nolisten tcp &
pids+=($!)
export DISPLAY=$display
for _ in $(seq 50); do xdotool getdisplaygeometry >/dev/null 2>&1 && break; sleep 0.1; done

"$exe" --config "$work/config" --web 127.0.0.1:0 -platform xcb 2>"$work/stderr" &
pids+=($!)
xdotool search --sync --onlyvisible --name '^Quillmark v' >/dev/null
for _ in $(seq 100); do grep -q 'Board: http' "$work/stderr" && break; sleep 0.1; done
board=$(grep -o 'http://[^ ]*token=[0-9a-f]*' "$work/stderr" | head -1)
"$exe" --config "$work/config" --send K2XYZ-9 "Roger, 20 cots on the way by 1400"
"$exe" --config "$work/config" --send W5EOC-1 "Lincoln school shelter opens 1500"
sleep 2  # the first ack comes back

# The compose box from the History window (Alt+H, then Alt+N), a text with a character APRS
# keeps for itself typed, so its reason shows.
win=$(xdotool search --onlyvisible --name '^Quillmark v' | head -1)
xdotool windowfocus --sync "$win" key alt+h
hist=$(xdotool search --sync --onlyvisible --name '^Message history$' | head -1)
xdotool windowfocus --sync "$hist" key alt+n
box=$(xdotool search --sync --onlyvisible --name '^Send a message$' | head -1)
xdotool windowfocus --sync "$box"
xdotool type --delay 20 'k2xyz-9'
xdotool key Tab
xdotool type --delay 20 'Sandbags | shovels'
sleep 1
eval "$(xdotool getwindowgeometry --shell "$box")"
import -window root -crop "${WIDTH}x${HEIGHT}+${X}+${Y}" +repage "$out/send-compose.png"

chromium --headless --no-sandbox --disable-gpu --hide-scrollbars --window-size=1280,700 \
  --virtual-time-budget=4000 --user-data-dir="$work/chromium" --screenshot="$out/board-sent.png" "$board" \
  >/dev/null 2>&1 || true
[ -s "$out/board-sent.png" ] || { echo "screenshots-sending: no board screenshot" >&2; exit 1; }
# Today's log, read beside the running desk.
files=$("$exe" --config "$work/config" --ics309 "$(date -u +%Y-%m-%dT00:00)" "$(date -u -d tomorrow +%Y-%m-%dT00:00)")
pdf=$(grep '\.pdf$' <<<"$files")
pdftoppm -png -r 80 -f 1 -l 1 -singlefile "$pdf" "$out/ics309"
convert "$out/ics309.png" -crop 100%x40%+0+0 +repage -bordercolor '#999999' -border 1 "$out/ics309.png"
echo "screenshots-sending: $out/send-compose.png $out/board-sent.png $out/ics309.png"
