#!/usr/bin/env bash
# Draws the program icon for the desktop's icon theme (hicolor) at the usual sizes, with the same
# design as the window icon (src/ui/pictures/draw-pictures.sh): a green pomelo with a leaf. Run it
# again after changing the design; the PNG files are committed and installed by the package.
set -euo pipefail
cd "$(dirname "$0")"
strip=(-strip -define png:exclude-chunks=date,time)
for size in 16 22 24 32 48 64 128 256; do
  r=$((size * 13 / 32)); c=$((size / 2)); cy=$((size * 17 / 32))
  convert -size ${size}x${size} xc:none \
    -fill '#7cc242' -stroke '#4e8a1f' -strokewidth $((size / 32 + 1)) \
    -draw "circle $c,$cy $c,$((cy - r))" \
    -fill '#b8e07c' -stroke none -draw "circle $((c - r / 3)),$((cy - r / 3)) $((c - r / 3)),$((cy - r / 3 - r / 3))" \
    -fill '#3f9b2f' -draw "ellipse $((c + size / 8)),$((size / 7)) $((size / 6)),$((size / 14)) 0,360" \
    "${strip[@]}" qingyou_${size}.png
done
