#!/usr/bin/env bash
# Draws the program's icon (a MIDI socket with an upward arrow) with ImageMagick and writes the sizes the
# program carries (16-64) and the Linux package installs (16-256). Run from anywhere; the PNGs are kept in the
# repository, so building needs no ImageMagick.
set -euo pipefail
cd "$(dirname "$0")"
big=$(mktemp --suffix=.png)
trap 'rm -f "$big"' EXIT
convert -size 256x256 xc:none \
    -fill '#1d5a78' -draw 'roundrectangle 8,8 247,247 44,44' \
    -fill none -stroke white -strokewidth 14 -draw 'circle 112,124 112,44' \
    -stroke none -fill white \
    -draw 'circle 112,74 112,60' -draw 'circle 64,108 64,94' -draw 'circle 160,108 160,94' \
    -draw 'circle 78,156 78,142' -draw 'circle 146,156 146,142' \
    -fill '#f29b2e' -draw 'polygon 196,120 244,176 214,176 214,236 178,236 178,176 148,176' \
    "$big"
for size in 16 32 48 64 128 256; do
    convert "$big" -resize "${size}x${size}" -strip "velmora-$size.png"
done
# The Windows programs' icon resource: the same drawing at the sizes Windows asks for.
convert velmora-16.png velmora-32.png \( velmora-64.png -resize 48x48 \) velmora-64.png velmora.ico
