#!/usr/bin/env bash
# Pictures of the live text overlay in its six colour themes for the README:
# docs/overlay-<theme>.png, showing one Chinese sentence.
#
#   scripts/overlay-screenshots.sh [OUTPUT_DIR]
#
# Needs the Windows tree built (cmake --build --preset windows). Runs
# overlay_show.exe on a Wine bench of its own (build/windows/wine-shots),
# stopped at the end. Each picture is the overlay's own picture, the one it
# hands to the window, composed over a light grey desktop the way Windows
# composes a layered window (its per-pixel alpha and constant alpha 219).
# Wine on a bare X server has no compositor and shows the same pixels
# unblended, the soft shadow as a black frame; the tests read the X screen.
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
out=${1:-"$root/docs"}
exe="$root/build/windows/tests/overlay/overlay_show.exe"
state="$root/build/windows/wine-shots"
backdrop=F3F3F3

if [ ! -f "$exe" ]; then
  echo "overlay-screenshots: $exe missing: cmake --build --preset windows" >&2
  exit 1
fi
mkdir -p "$out" "$state/shots"
out=$(cd "$out" && pwd)

trap '"$root/scripts/wine-bench.sh" stop "$state" >/dev/null 2>&1 || true' EXIT
"$root/scripts/wine-bench.sh" start "$state"
# shellcheck disable=SC1091
. "$state/bench.env"

windows_path() {
  # Wine maps the Linux root to drive Z:.
  printf 'Z:%s' "${1//\//\\}"
}

work="$state/shots"
printf '%s' '今天天气很好，我们去公园散步吧。' >"$work/text.txt"

themes=(white pink green yellow blue purple)
for index in "${!themes[@]}"; do
  name=${themes[$index]}
  rm -f "$work/layout.txt" "$work/stop" "$work/picture.ppm"
  wine "$exe" "$(windows_path "$work/text.txt")" "$(windows_path "$work/layout.txt")" \
    "$(windows_path "$work/stop")" "$index" 0 "$backdrop" "$(windows_path "$work/picture.ppm")" \
    </dev/null >"$work/show.log" 2>&1 &
  pid=$!
  for _ in $(seq 1 200); do
    [ -f "$work/layout.txt" ] && break
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.05
  done
  touch "$work/stop"
  wait "$pid" || true
  if [ ! -s "$work/picture.ppm" ]; then
    echo "overlay-screenshots: no picture for $name; see $work/show.log" >&2
    exit 1
  fi
  # A margin of desktop around the window, so that the shadow has room.
  convert "$work/picture.ppm" -bordercolor "#$backdrop" -border 8 "$out/overlay-$name.png"
  echo "$out/overlay-$name.png ($(cut -d' ' -f3,4 "$work/layout.txt" | tr ' ' 'x'))"
done
