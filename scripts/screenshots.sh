#!/usr/bin/env bash
# Takes PNG screenshots of the main window's four pages, the tray menu and the history window under a
# virtual X display, into docs/screenshots/. Needs xvfb, imagemagick and xdotool;
# pdftoppm (poppler) renders the reprinted page; trayer (optional) provides the notification area for the tray shots.
# The window replays the bundled demo traffic with a few options set through an INI file
# written beside the executable for the run; the INI that was there before (or none) is
# put back afterwards.
# Usage: scripts/screenshots.sh [path/to/quillmark]   (default: build/default/app/quillmark)
# QM_SCREENSHOT_DISPLAY picks the virtual display (default :99).
set -euo pipefail
cd "$(dirname "$0")/.."
exe=${1:-build/default/app/quillmark}
out=docs/screenshots
display=${QM_SCREENSHOT_DISPLAY:-:99}  # another free display when :99 is taken
mkdir -p "$out"
[ -x "$exe" ] || { echo "screenshots: $exe not built" >&2; exit 1; }
for tool in Xvfb import xdotool; do
  command -v "$tool" >/dev/null || { echo "screenshots: $tool missing" >&2; exit 1; }
done

ini="$(dirname "$exe")/Quillmark.ini"
saved_ini=$(mktemp)
had_ini=no
if [ -e "$ini" ]; then cp -p "$ini" "$saved_ini"; had_ini=yes; fi

pids=()
cleanup() {  # the program first, the display last, then the INI as it was
  for ((i = ${#pids[@]} - 1; i >= 0; i--)); do kill "${pids[i]}" 2>/dev/null || true; wait "${pids[i]}" 2>/dev/null || true; done
  if [ "$had_ini" = yes ]; then cp -p "$saved_ini" "$ini"; else rm -f "$ini"; fi
  rm -f "$saved_ini"
}
trap cleanup EXIT

# Bulletins, announcements, two listed stations and NWS alerts for three states, so the
# list fills with a mix early on; two packets a second keep the first page from filling
# up (and printing) before the shots are taken. No full-text box: no Finger query.
printf '%s\r\n' '[Settings]' 'cbStationList.Checked=True' 'cbNWSWarnings.Checked=True' \
  'cbNWSWatches.Checked=True' 'cbNWSAdvisiories.Checked=True' 'cbAnn.Checked=True' 'cbBull.Checked=True' \
  '[Settings.lbStationList.Items]' 'Count=2' 'Item0=Q1ABC-7' 'Item1=Q7CLUB*' \
  '[StateSelection]' 'KS=1' 'OK=1' 'TX=1' \
  '[Connection]' 'Transport=replay' 'CaptureFile=' 'Pace=2' >"$ini"

Xvfb "$display" -screen 0 1024x600x24 -nolisten tcp &
pids+=($!)
export DISPLAY=$display
for _ in $(seq 50); do xdotool getdisplaygeometry >/dev/null 2>&1 && break; sleep 0.1; done
# A plain desktop colour instead of black behind the tray menu.
backdrop=$(mktemp --suffix=.png)
convert -size 1024x600 xc:'#5f7f9f' "$backdrop" && display -window root "$backdrop" 2>/dev/null || true
rm -f "$backdrop"

has_tray=no
if command -v trayer >/dev/null; then
  trayer --edge bottom --align right --widthtype pixel --width 48 --heighttype pixel --height 24 \
    --transparent false --tint 0xd0d0d0 --SetDockType true >/dev/null 2>&1 &
  pids+=($!)
  has_tray=yes
  sleep 1
fi

"$exe" -platform xcb &
app=$!
pids+=($app)
win=$(xdotool search --sync --onlyvisible --name '^Quillmark v' | head -1)
xdotool windowmove "$win" 20 20
sleep 1

geometry() { xdotool getwindowgeometry --shell "$win"; }
shot_window() {  # name
  eval "$(geometry)"
  import -window root -crop "${WIDTH}x${HEIGHT}+${X}+${Y}" +repage "$out/$1.png"
}
# Tab centres, in window coordinates, for the fonts this script runs with.
tab_centres=(240 340 425 552)  # the Alarms tab (about 495) is left out
names=(page-message-options page-nws-options page-connection page-about)
for i in 0 1 2 3; do
  eval "$(geometry)"
  xdotool mousemove $((X + tab_centres[i])) $((Y + 26)) click 1
  sleep 0.5
  xdotool mousemove 1000 590  # keep the pointer off the controls
  sleep 0.3
  shot_window "${names[i]}"
done

if [ "$has_tray" = yes ]; then
  # The icon sits in the tray at the bottom right; its menu opens above it.
  xdotool mousemove 1012 588 click 3
  sleep 0.8
  import -window root -crop 240x110+784+490 +repage "$out/tray-menu.png"
  xdotool key Escape
fi
# The history window: the Printer group's History button (Alt+H), a search for one
# station's messages, then all of them chosen and reprinted (Alt+R); the demo's pages, the
# reprint among them, become PDF files.
sleep 4  # a few more messages in the store
xdotool windowfocus --sync "$win" key alt+h
hist=$(xdotool search --sync --onlyvisible --name '^Message history$' | head -1)
xdotool windowmove "$hist" 40 30
xdotool windowsize "$hist" 940 520
sleep 0.5
xdotool windowfocus --sync "$hist"
xdotool type --delay 40 'Q1ABC*'
xdotool key Return
sleep 0.5
xdotool key Tab Tab Tab ctrl+a
sleep 0.3
xdotool mousemove 1000 590
win_main=$win
win=$hist
shot_window history-search
xdotool key alt+r
sleep 1.5
# The reprint as it came out: the demo's newest page file, its top part.
reprint=$(ls -t "$(dirname "$exe")"/demo-pages/*.pdf | head -1)
pdftoppm -png -r 80 -f 1 -l 1 -singlefile "$reprint" "$out/history-reprint"
convert "$out/history-reprint.png" -crop 100%x30%+0+0 +repage -bordercolor '#999999' -border 1 "$out/history-reprint.png"
echo "screenshots: written to $out"
