#!/usr/bin/env bash
# Draws the program icon (a quill over a printed page) with ImageMagick and writes the
# PNG sizes the window, the tray and the desktop (the hicolor theme sizes) use, and the
# Windows icon file. Run it from anywhere.
set -euo pipefail
cd "$(dirname "$0")"
master=$(mktemp --suffix=.png)
trap 'rm -f "$master"' EXIT

convert -size 256x256 xc:none \
  -fill '#00000030' -stroke none -draw "roundrectangle 46,22 214,246 10,10" \
  -fill '#fdfdf8' -stroke '#4a4a4a' -strokewidth 8 -draw "path 'M 40,14 L 168,14 L 206,52 L 206,236 L 40,236 Z'" \
  -fill '#d8d8d0' -stroke '#4a4a4a' -strokewidth 6 -draw "path 'M 168,14 L 168,52 L 206,52 Z'" \
  -stroke '#303030' -strokewidth 12 \
  -draw "line 68,78 140,78" -draw "line 68,114 178,114" -draw "line 68,150 178,150" -draw "line 68,186 130,186" \
  -stroke '#0b3d91' -strokewidth 5 -fill '#3f7fd8' \
  -draw "path 'M 250,6 C 200,20 150,70 112,150 L 104,176 L 126,166 C 190,120 236,60 250,6 Z'" \
  -stroke '#dfe9f8' -strokewidth 4 -fill none -draw "path 'M 244,14 C 200,60 150,110 112,168'" \
  -stroke '#1a1a1a' -strokewidth 10 -draw "line 112,168 88,216" \
  "$master"

for size in 16 22 24 32 48 64 128; do
  convert "$master" -filter Lanczos -resize ${size}x${size} -unsharp 0x0.6 \
    -define png:exclude-chunks=date,time "quillmark-${size}.png"
done
convert "$master" -define png:exclude-chunks=date,time quillmark-256.png
# The Windows program's icon (its executable, the Start menu and the installer).
convert quillmark-16.png quillmark-24.png quillmark-32.png quillmark-48.png quillmark-64.png quillmark-256.png \
  quillmark.ico
