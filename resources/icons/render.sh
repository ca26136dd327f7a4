#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# Renders the program icon's PNGs (installed for the desktop) from its SVG source
# (ImageMagick). The PNGs are committed, so building does not need this; run it
# after changing the SVG. The program itself draws every icon from the SVGs.
set -euo pipefail
cd "$(dirname "$0")"
for s in 16 32 48 64 128 256; do
  convert -background none -density 96 tavrin-capture.svg -resize "${s}x${s}" -depth 8 "PNG32:tavrin-capture-$s.png"
done
