#!/usr/bin/env bash
# Takes the area list on the NWS Options page and the History window's "Bulletins" view under
# a virtual X display, into docs/screenshots/. Needs xvfb, imagemagick and xdotool.
# The window replays a small capture of bulletins (a line replaced by a newer one with the
# same ID among them) on a private --config folder, its pages written as PDF files there.
# Usage: scripts/screenshots-bulletins.sh [path/to/quillmark]   (default: build/default/app/quillmark)
# QM_SCREENSHOT_DISPLAY picks the virtual display (default :98).
set -euo pipefail
cd "$(dirname "$0")/.."
exe=${1:-build/default/app/quillmark}
out=docs/screenshots
display=${QM_SCREENSHOT_DISPLAY:-:98}
mkdir -p "$out"
[ -x "$exe" ] || { echo "screenshots: $exe not built" >&2; exit 1; }
for tool in Xvfb import xdotool; do
  command -v "$tool" >/dev/null || { echo "screenshots: $tool missing" >&2; exit 1; }
done

work=$(mktemp -d)
pids=()
cleanup() {  # the program first, the display last
  for ((i = ${#pids[@]} - 1; i >= 0; i--)); do kill "${pids[i]}" 2>/dev/null || true; wait "${pids[i]}" 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT

printf '%s\r\n' '[Settings]' 'cbBull.Checked=True' 'cbAnn.Checked=True' 'cbNWSWarnings.Checked=True' \
  '[StateSelection]' 'OK=1' 'TX=1' '[NWSAreas]' 'Count=3' 'Item0=OK_C109' 'Item1=OK_C027' 'Item2=TX_Z*' \
  '[Connection]' 'Transport=replay' >"$work/Quillmark.ini"
# The bulletins first; then telemetry nobody wants, which keeps the replay (and the window) going.
{
  printf '%s\r\n' \
    '*14:00:01 Q7CLUB>APRS,WIDE1-1::BLN1     :Club meeting Thursday 1930 at the fire hall' \
    '*14:00:02 Q7CLUB>APRS,WIDE1-1::BLN2     :Bring a handheld for the net demo' \
    '*14:00:03 Q2EOC>APRS,WIDE1-1::BLN1WX   :Spotters to the EOC net on 146.52 at 1800' \
    '*14:00:04 Q7CLUB>APRS,WIDE1-1::BLNA     :Hamfest in June, details at the club' \
    '*14:00:05 Q7CLUB>APRS,WIDE1-1::BLN1     :Club meeting moved to Friday 1930' \
    '*14:00:06 Q3ARES>APRS,WIDE1-1::BLN1     :ARES drill Saturday 0900 at the county EOC'
  for i in $(seq 2000); do printf '*14:01:00 Q5BASE-1>APRS,WIDE1-1:T#%03d,175,196,160,080,024,00110111\r\n' $((i % 1000)); done
} >"$work/capture.txt"
mkdir -p "$work/pdf"

Xvfb "$display" -screen 0 1024x600x24 -nolisten tcp &
pids+=($!)
export DISPLAY=$display
for _ in $(seq 50); do xdotool getdisplaygeometry >/dev/null 2>&1 && break; sleep 0.1; done

"$exe" -platform xcb --config "$work" --replay "$work/capture.txt" --pace 4 --print-to-pdf "$work/pdf" --web off &
pids+=($!)
win=$(xdotool search --sync --onlyvisible --name '^Quillmark v' | head -1)
xdotool windowmove "$win" 20 20
sleep 3  # the bulletins are in

geometry() { xdotool getwindowgeometry --shell "$win"; }
shot_window() {  # name
  eval "$(geometry)"
  import -window root -crop "${WIDTH}x${HEIGHT}+${X}+${Y}" +repage "$out/$1.png"
}
# The NWS Options tab, as scripts/screenshots.sh finds it.
eval "$(geometry)"
xdotool mousemove $((X + 340)) $((Y + 26)) click 1
sleep 0.5
xdotool mousemove 1000 590
sleep 0.3
shot_window nws-areas

xdotool windowfocus --sync "$win" key alt+h
hist=$(xdotool search --sync --onlyvisible --name '^Message history$' | head -1)
xdotool windowmove "$hist" 40 30
xdotool windowsize "$hist" 940 420
sleep 0.5
xdotool windowfocus --sync "$hist" key alt+b
sleep 0.5
xdotool key Tab Down  # the board's first line chosen
sleep 0.3
xdotool mousemove 1000 590
win=$hist
shot_window history-bulletins
echo "screenshots: written to $out"
