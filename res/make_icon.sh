#!/usr/bin/env bash
# Draws icon 128 (res/icon_128.png): an LED panel whose lit dots show a
# download arrow over a bar. Needs ImageMagick's convert.
set -euo pipefail
cd "$(dirname "$0")"

pattern=(
  "...##..."
  "...##..."
  "...##..."
  ".######."
  "..####.."
  "...##..."
  "........"
  "########"
)

draw=(-fill '#1b2128' -stroke '#5b6673' -strokewidth 3 -draw "roundrectangle 6,6 121,121 16,16")
for r in "${!pattern[@]}"; do
  row=${pattern[$r]}
  for ((c = 0; c < 8; c++)); do
    x=$((22 + 12 * c)); y=$((22 + 12 * r))
    if [ "${row:$c:1}" = "#" ]; then
      draw+=(-stroke '#ffd27a' -strokewidth 1 -fill '#ffab1a' -draw "circle $x,$y $((x + 5)),$y")
    else
      draw+=(-stroke none -fill '#39414b' -draw "circle $x,$y $((x + 4)),$y")
    fi
  done
done

convert -size 128x128 xc:none "${draw[@]}" -strip PNG32:icon_128.png
echo "make_icon: wrote $(pwd)/icon_128.png"
