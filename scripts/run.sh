#!/usr/bin/env bash
# Builds Quillmark (installing what is missing) and runs it. With nothing else set up it
# replays the bundled demo traffic. On a machine without a display it runs on Qt's
# offscreen platform, lets the demo end, and says where the log file and printed pages are.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh build
# A machine without any printer gets a CUPS queue that writes PDF files, so the demo's
# pages have somewhere to go. Machines that already have printers are left alone.
if [ "$(id -u)" -eq 0 ] && ! lpstat -e 2>/dev/null | grep -q .; then
  echo "run: no printer is installed; setting up the CUPS queue Quillmark-PDF that writes PDF files"
  scripts/install-deps.sh print
  scripts/cups-pdf-queue.sh start
fi

cmake --preset default >/dev/null
cmake --build --preset default --target quillmark

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  echo "run: no display; running on the offscreen platform until the demo traffic ends"
  export QT_QPA_PLATFORM=offscreen
fi
build/default/app/quillmark "$@"
if lpstat -p Quillmark-PDF >/dev/null 2>&1; then
  scripts/cups-pdf-queue.sh status
fi
