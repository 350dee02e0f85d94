#!/usr/bin/env bash
# The desktop's icons for the .deb: the frames of the program's own .ico as
# PNG files, one per size, laid out as the hicolor theme wants them:
#   OUTDIR/<N>x<N>/apps/lumora-voice-input.png
#
#   packaging/linux/icons.sh ICON.ico OUTDIR SIZE...
#
# Each size is a frame drawn for it, never a scaled one: a frame is picked by
# its size, not by its place in the file, so a reordered .ico still gives the
# right pictures. Needs ImageMagick (identify, convert).
set -euo pipefail

if [ $# -lt 3 ]; then
  echo "usage: $0 ICON.ico OUTDIR SIZE..." >&2
  exit 2
fi
ico=$1
out=$2
shift 2

frames=$(identify -format '%p %w %h\n' "$ico")
for size in "$@"; do
  index=$(awk -v size="$size" '$2 == size && $3 == size { print $1; exit }' <<<"$frames")
  if [ -z "$index" ]; then
    echo "icons.sh: $ico has no ${size}x${size} frame (it has: $(awk '{ printf "%sx%s ", $2, $3 }' <<<"$frames"))" >&2
    exit 1
  fi
  dir="$out/${size}x${size}/apps"
  mkdir -p "$dir"
  # PNG32: RGBA whatever the frame's palette, so that its transparency stays.
  # -strip: no dates in the file, so that the same .ico gives the same package.
  convert "${ico}[$index]" -strip "PNG32:$dir/lumora-voice-input.png.part"
  mv -f "$dir/lumora-voice-input.png.part" "$dir/lumora-voice-input.png"
done
