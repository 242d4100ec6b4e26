#!/usr/bin/env bash
# Draws the program's own pictures with ImageMagick at the sizes the windows use. Run it again
# after changing a picture; the PNG files are committed and embedded through pictures.qrc.
set -euo pipefail
cd "$(dirname "$0")"
font=/usr/share/fonts/opentype/noto/NotoSansCJK-Bold.ttc
strip=(-strip -define png:exclude-chunks=date,time)

# Program icon: a green pomelo with a leaf, 32 and 64 px.
for size in 32 64; do
  s=$((size)); r=$((size * 13 / 32)); c=$((size / 2)); cy=$((size * 17 / 32))
  convert -size ${s}x${s} xc:none \
    -fill '#7cc242' -stroke '#4e8a1f' -strokewidth $((size / 32 + 1)) \
    -draw "circle $c,$cy $c,$((cy - r))" \
    -fill '#b8e07c' -stroke none -draw "circle $((c - r / 3)),$((cy - r / 3)) $((c - r / 3)),$((cy - r / 3 - r / 3))" \
    -fill '#3f9b2f' -draw "ellipse $((c + size / 8)),$((size / 7)) $((size / 6)),$((size / 14)) 0,360" \
    "${strip[@]}" app_icon_${size}.png
done

# History icon, 18 x 18: an orange clock face.
convert -size 18x18 xc:none -fill '#fff3e0' -stroke '#ff8000' -strokewidth 2 \
  -draw 'circle 9,9 9,2' -stroke '#ff8000' -strokewidth 1.5 -draw 'line 9,9 9,4.5' \
  -draw 'line 9,9 12.5,10.5' "${strip[@]}" history.png

# Sponsor icon, 18 x 18: a heart.
convert -size 18x18 xc:none -fill '#c06000' -stroke none \
  -draw 'circle 5.5,6.5 5.5,2.5' -draw 'circle 12.5,6.5 12.5,2.5' \
  -draw 'polygon 1.6,7.8 16.4,7.8 9,16' "${strip[@]}" sponsor.png

# Seconds bar, 350 x 4: a pink to violet gradient.
convert -size 4x350 gradient:'#ffa8ff-#9060ff' -rotate 90 "${strip[@]}" seconds_bar.png

# Placeholder cover, 360 x 757: a film strip over a soft gradient.
convert -size 360x757 gradient:'#fdf1ff-#e4d8ff' \
  -fill '#c9b6f2' -draw 'rectangle 40,0 80,757' -draw 'rectangle 280,0 320,757' \
  -fill '#fdf1ff' -draw "$(for y in $(seq 12 38 757); do printf 'rectangle 50,%d 70,%d ' $y $((y + 18)); done)" \
  -draw "$(for y in $(seq 12 38 757); do printf 'rectangle 290,%d 310,%d ' $y $((y + 18)); done)" \
  -fill '#ffa8ff' -draw 'polygon 150,330 150,430 230,380' \
  -font "$font" -pointsize 34 -fill '#8a6cc8' -gravity center -annotate +0+110 '青柚追剧' \
  "${strip[@]}" cover.png

# Loading picture, 1080 x 642: a pale rounded card behind the loading text.
convert -size 1080x642 xc:none -fill '#f3ecff' -stroke '#d9c8ff' -strokewidth 18 \
  -draw 'roundrectangle 9,9 1070,632 90,90' "${strip[@]}" loading.png

# Sponsorship picture, 1152 x 1152: a heart on a warm card.
convert -size 1152x1152 gradient:'#fff7ec-#ffe1c2' \
  -fill '#ff7a3d' -draw 'circle 420,430 420,230' -draw 'circle 732,430 732,230' \
  -draw 'polygon 576,900 272,564 420,430 732,430 880,564' \
  -font "$font" -pointsize 110 -fill '#c05a20' -gravity south -annotate +0+70 '感谢支持' \
  "${strip[@]}" sponsorship.png

# Fan-group picture, 240 x 287: three figures under the group heading.
convert -size 240x287 gradient:'#eaf6ff-#cfe8ff' -fill '#0088ff' \
  -draw 'circle 120,100 120,70' -draw 'roundrectangle 80,140 160,215 30,30' \
  -fill '#5fb2ff' -draw 'circle 60,120 60,98' -draw 'roundrectangle 30,150 90,210 22,22' \
  -draw 'circle 180,120 180,98' -draw 'roundrectangle 150,150 210,210 22,22' \
  -font "$font" -pointsize 30 -fill '#0066cc' -gravity south -annotate +0+22 '粉丝群' \
  "${strip[@]}" fan_group.png
