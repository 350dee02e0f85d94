#!/usr/bin/env bash
# Draws the program's pictures with ImageMagick (Debian's `imagemagick`):
#
#   parlino.ico   icons 101 and 102: a white microphone on a teal-to-blue
#                 rounded square, 16, 24, 32, 48, 64, 128 and 256 pixels, 32 bits
#   parlino-connected.ico
#                 icon 104, the tray's while a phone is connected: the same
#                 drawing with a green dot in a white ring at the lower right
#   contact.png   RCDATA 103 for the contact dialog: 820 x 820, 8-bit RGBA
#
# The files are committed; run this again after changing the drawing:
#   res/make_images.sh
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# No time stamps or comments in the files, so that the same drawing gives the
# same bytes.
png_opts=(-strip -define png:exclude-chunks=date,time)

# Teal to blue, top left to bottom right, as a 1024 x 1024 rounded square
# inset by $1 with corner radius $2.
tile() {
  convert -size 1024x1024 -define gradient:direction=SouthEast gradient:'#1FB7A6'-'#3A5BE0' \
    \( -size 1024x1024 xc:black -fill white \
       -draw "roundrectangle $1,$1 $((1023 - $1)),$((1023 - $1)) $2,$2" \) \
    -alpha off -compose CopyOpacity -composite -compose Over "$3"
}

# The microphone: capsule, holder, stem and foot. The small sizes get bolder
# strokes, which stay readable at 16 pixels; the large ones a finer drawing.
tile 48 224 "$work/large-tile.png"
convert "$work/large-tile.png" -fill white -stroke none \
  -draw "roundrectangle 392,176 632,592 120,120" \
  -fill none -stroke white -strokewidth 64 -draw "stroke-linecap round path 'M 296,472 A 216,216 0 0 0 728,472'" \
  -stroke none -fill white -draw "rectangle 480,680 544,800" \
  -draw "roundrectangle 352,784 672,848 32,32" "$work/large.png"

tile 32 208 "$work/small-tile.png"
convert "$work/small-tile.png" -fill white -stroke none \
  -draw "roundrectangle 376,128 648,608 136,136" \
  -fill none -stroke white -strokewidth 104 -draw "stroke-linecap round path 'M 248,480 A 264,264 0 0 0 776,480'" \
  -stroke none -fill white -draw "rectangle 460,740 564,850" \
  -draw "roundrectangle 320,824 704,920 40,40" "$work/small.png"

# One icon file from a small and a large drawing: $1 is the drawings' name
# ("small" and "large" with this prefix), $2 the file.
icon_file() {
  local sizes=()
  for n in 16 24 32; do
    convert "$work/$1small.png" -filter Box -resize "${n}x${n}" -depth 8 PNG32:"$work/$1icon-$n.png"
    sizes+=("$work/$1icon-$n.png")
  done
  for n in 48 64 128 256; do
    convert "$work/$1large.png" -filter Lanczos -resize "${n}x${n}" -depth 8 PNG32:"$work/$1icon-$n.png"
    sizes+=("$work/$1icon-$n.png")
  done
  convert "${sizes[@]}" "$2"
}
icon_file "" "$here/parlino.ico"

# The connected badge. The small sizes get a larger dot: at 16 pixels it is
# about 6 pixels across in a 1-pixel ring, which the tray still shows as a
# dot; the ring keeps it apart from the tile and from a dark or light taskbar.
convert "$work/small.png" -stroke none -fill white -draw "circle 760,760 1024,760" \
  -fill '#22C55E' -draw "circle 760,760 960,760" "$work/connected-small.png"
convert "$work/large.png" -stroke none -fill white -draw "circle 784,784 1016,784" \
  -fill '#22C55E' -draw "circle 784,784 960,784" "$work/connected-large.png"
icon_file "connected-" "$here/parlino-connected.ico"

# The contact picture: the icon and the product's name on a white card in a
# blue frame. The frame reaches the edges on every side, so that the dialog's
# test can find the square it is drawn into.
convert "$work/large.png" -filter Lanczos -resize 300x300 "$work/contact-icon.png"
font=WenQuanYi-Zen-Hei
convert -size 820x820 xc:'#2B4FD8' \
  -fill white -draw "roundrectangle 40,40 779,779 48,48" \
  "$work/contact-icon.png" -geometry +260+110 -composite \
  -font "$font" -fill '#1F2937' -pointsize 64 -gravity north -annotate +0+450 'Lumora语音输入' \
  -fill '#4B5563' -pointsize 40 -annotate +0+560 '联系作者 · 问题反馈' \
  -fill '#2B4FD8' -draw "roundrectangle 330,660 489,668 4,4" \
  -depth 8 "${png_opts[@]}" PNG32:"$here/contact.png"
