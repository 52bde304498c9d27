#!/usr/bin/env bash
# Takes PNG screenshots of the main window's four pages and of the tray menu under a
# virtual X display, into docs/screenshots/. Needs xvfb, imagemagick and xdotool;
# trayer (optional) provides the notification area for the tray shots.
# Usage: scripts/screenshots.sh [path/to/quillmark]   (default: build/default/app/quillmark)
set -euo pipefail
cd "$(dirname "$0")/.."
exe=${1:-build/default/app/quillmark}
out=docs/screenshots
display=:99
mkdir -p "$out"
[ -x "$exe" ] || { echo "screenshots: $exe not built" >&2; exit 1; }
for tool in Xvfb import xdotool; do
  command -v "$tool" >/dev/null || { echo "screenshots: $tool missing" >&2; exit 1; }
done

pids=()
cleanup() {  # the program first, the display last
  for ((i = ${#pids[@]} - 1; i >= 0; i--)); do kill "${pids[i]}" 2>/dev/null || true; wait "${pids[i]}" 2>/dev/null || true; done
}
trap cleanup EXIT

Xvfb "$display" -screen 0 1024x600x24 -nolisten tcp &
pids+=($!)
export DISPLAY=$display
for _ in $(seq 50); do xdotool getdisplaygeometry >/dev/null 2>&1 && break; sleep 0.1; done

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
tab_centres=(240 340 425 491)
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
  import -window root -crop 360x160+664+440 +repage "$out/tray-menu.png"
  xdotool key Escape
fi
echo "screenshots: written to $out"
