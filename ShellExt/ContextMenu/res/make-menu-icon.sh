#!/usr/bin/env bash
# Remakes Menu.ico from the product mark in MenuBitmap.bmp (ImageMagick 6, Debian's imagemagick):
# the silver background becomes transparent, the 16-pixel mark is enlarged without smoothing and
# then reduced to each size a menu asks for at 100, 125, 150 and 200 % (16, 20, 24, 32 pixels),
# each kept as a 32-bit image with its alpha channel.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
convert=/usr/bin/convert
"$convert" "$here/MenuBitmap.bmp" -alpha set -transparent '#C0C0C0' -filter point -resize 1600% "$work/master.png"
for size in 16 20 24 32; do
  "$convert" "$work/master.png" -filter box -resize "${size}x${size}" -define png:color-type=6 "$work/$size.png"
done
"$convert" "$work/16.png" "$work/20.png" "$work/24.png" "$work/32.png" "$here/Menu.ico"
