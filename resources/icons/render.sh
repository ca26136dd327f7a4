#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# Renders the program icon's PNGs (installed for the desktop) from its SVG source
# (ImageMagick). The PNGs are committed, so building does not need this; run it
# after changing the SVG. The program itself draws every icon from the SVGs; the Windows
# program carries the .ico files made at the end.
set -euo pipefail
cd "$(dirname "$0")"
for s in 16 32 48 64 128 256; do
  convert -background none -density 96 tavrin-capture.svg -resize "${s}x${s}" -depth 8 "PNG32:tavrin-capture-$s.png"
done

# The Windows program's icons (resources/windows): the program icon from the PNGs above,
# and the three button icons drawn with the SVGs' shapes and colours at 16 and 32 pixels.
win=../windows
convert tavrin-capture-16.png tavrin-capture-32.png tavrin-capture-48.png tavrin-capture-256.png "$win/tavrin-capture.ico"
tmp="$(mktemp -d)"
trap 'rm -rf "$tmp"' EXIT
record() { # name, dot colour, highlight colour
  convert -size 32x32 xc:none -fill '#3a3a3a' -stroke '#d6d6d6' -strokewidth 1.2 -draw "circle 16,16 16,3" \
    -stroke none -fill '#5c5c5c' -draw "circle 16,16 16,4.5" -fill "$2" -draw "circle 16,16 16,8" \
    -fill "$3" -draw "circle 13.5,13 13.5,10.5" "PNG32:$tmp/$1-32.png"
}
record record-idle '#8e3a3a' '#b86a6a'
record record-active '#ff2a1a' '#ffb0a0'
convert -size 32x32 xc:none -fill '#3d4a5c' -stroke '#dfe6ee' -strokewidth 1.2 -draw "roundrectangle 2,10 30,27 2,2" \
  -draw "polygon 11,7 21,7 23,10 9,10" -stroke none -fill '#f0c040' -draw "rectangle 4,11 8,13" \
  -fill '#1c2430' -stroke '#9fb4cc' -strokewidth 0.8 -draw "circle 16,18 16,11.5" -stroke none \
  -fill '#4a7ab0' -draw "circle 16,18 16,13" -fill '#1c2430' -draw "circle 16,18 16,15.4" \
  -fill '#d8e8ff' -draw "circle 14.2,16.2 14.2,14.9" "PNG32:$tmp/screenshot-32.png"
for n in record-idle record-active screenshot; do
  convert "$tmp/$n-32.png" -resize 16x16 "PNG32:$tmp/$n-16.png"
  convert "$tmp/$n-16.png" "$tmp/$n-32.png" "$win/$n.ico"
done
