#!/usr/bin/env bash
# Builds Quillmark (installing what is missing) and runs it; arguments go to the program
# (quillmark --help lists them). With nothing else set up it replays the bundled demo
# traffic, whose pages become PDF files, never paper. On a machine without a display it runs
# on Qt's offscreen platform, lets the demo end, and says where the log and the pages are.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh build
cmake --preset default >/dev/null
cmake --build --preset default --target quillmark

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  echo "run: no display; running on the offscreen platform until the demo traffic ends"
  export QT_QPA_PLATFORM=offscreen
fi
exec build/default/app/quillmark "$@"
