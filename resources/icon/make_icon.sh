#!/bin/sh
# Draws the program icon (a bridge chip on a blue tile, with a download arrow into it) at
# 256 px and writes it as an .ico with 256, 128, 48, 32 and 16 px images.
# Usage: make_icon.sh OUTPUT.ico [OUTPUT.png]
set -eu
out="$1"
png="${2:-}"
convert="${CONVERT:-convert}"

set -- -size 256x256 xc:none \
  -fill '#0f3b73' -draw 'roundrectangle 6,10 249,251 46,46' \
  -fill '#1d5fae' -draw 'roundrectangle 6,6 249,245 46,46' \
  -stroke '#aab4c3' -strokewidth 10 \
  -draw 'line 50,128 66,128' -draw 'line 50,160 66,160' -draw 'line 50,192 66,192' \
  -draw 'line 190,128 206,128' -draw 'line 190,160 206,160' -draw 'line 190,192 206,192' \
  -draw 'line 96,226 96,216' -draw 'line 128,226 128,216' -draw 'line 160,226 160,216' \
  -stroke none \
  -fill '#e9eef5' -draw 'roundrectangle 64,100 192,218 14,14' \
  -fill '#2a3442' -draw 'roundrectangle 86,122 170,196 6,6' \
  -fill '#7fd3ff' -draw 'circle 128,159 128,141' \
  -stroke '#ffffff' -strokewidth 8 -fill '#3ec46d' \
  -draw 'polygon 108,24 148,24 148,72 178,72 128,128 78,72 108,72' \
  -stroke none \
  +set date:create +set date:modify -define png:exclude-chunks=date,time

if [ -n "$png" ]; then
  "$convert" "$@" -depth 8 "PNG32:$png"
fi
"$convert" "$@" -depth 8 -define icon:auto-resize=256,128,48,32,16 "$out"
