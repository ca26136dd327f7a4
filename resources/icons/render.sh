#!/usr/bin/env bash
# Renders the PNG icons from their SVG sources (ImageMagick). The PNGs are committed,
# so building does not need this; run it after changing an SVG.
set -euo pipefail
cd "$(dirname "$0")"
for n in record-idle record-active screenshot; do
  convert -background none -density 384 "$n.svg" -resize 32x32 -depth 8 "PNG32:$n.png"
done
for s in 16 32 48 64 128 256; do
  convert -background none -density 96 tavrin-capture.svg -resize "${s}x${s}" -depth 8 "PNG32:tavrin-capture-$s.png"
done
