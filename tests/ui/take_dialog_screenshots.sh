#!/usr/bin/env bash
# Takes the README's screenshots of the dialogs (docs/*-dialog.png) on a Wine
# bench of their own, from a built windows tree:
#   tests/ui/take_dialog_screenshots.sh [BUILD_DIR]     (default build/windows)
#
# The bench is set up to look like a Chinese Windows desktop: the message
# and caption fonts are "Microsoft YaHei UI" 9 pt, drawn by WenQuanYi Zen Hei
# Sharp (its hand-made small sizes stay legible without anti-aliasing, which
# Wine does not do on Xvfb), and Wine draws the window frames itself, as there
# is no window manager. The settings and contact dialogs come from
# dialog_gallery.exe, the first-run dialog from the real program started
# without config.toml. The four dialogs are then shot again with the fonts
# at 200 %, as Windows' "make text bigger" sets them (docs/*-200.png).
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
build=$(cd "${1:-$root/build/windows}" && pwd)
state="$build/wine-shots"
out="$root/docs"

unset DISPLAY
"$root/scripts/wine-bench.sh" start "$state"
trap '"$root/scripts/wine-bench.sh" stop "$state" >/dev/null 2>&1 || true' EXIT
# shellcheck disable=SC1091
. "$state/bench.env"

logfont() {  # LOGFONTW of "Microsoft YaHei UI", 9 pt at 96 DPI times $1 %, in hex
  printf '%02xffffff' $((256 - 12 * $1 / 100))
  printf '%s' '00000000' '00000000' '00000000' '90010000' '00000001' '00000400'
  printf 'Microsoft YaHei UI' | iconv -t UTF-16LE | od -An -tx1 -v | tr -d ' \n'
  printf '0%.0s' $(seq 1 $((128 - 36 * 2)))
}
reg() { wine reg add "$@" /f >>"$state/reg.log" 2>&1; }
reg 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N
reg 'HKCU\Software\Wine\Fonts\Replacements' /v 'Microsoft YaHei UI' /t REG_SZ /d 'WenQuanYi Zen Hei Sharp'
text_size() {  # all the fonts of the desktop at $1 %
  local metric
  for metric in MessageFont CaptionFont SmCaptionFont MenuFont StatusFont IconFont; do
    reg 'HKCU\Control Panel\Desktop\WindowMetrics' /v "$metric" /t REG_BINARY /d "$(logfont "$1")"
  done
}
text_size 100

# Waits for the window titled $1 and writes its picture to $2.
shoot() {
  local title=$1 file=$2 geometry="" i
  for i in $(seq 1 100); do
    geometry=$(xwininfo -root -tree | grep -F "\"$title\":" | grep -oE '[0-9]+x[0-9]+\+[0-9]+\+[0-9]+' | head -n 1 || true)
    [ -n "$geometry" ] && break
    sleep 0.1
  done
  [ -n "$geometry" ] || { echo "no window \"$title\"" >&2; return 1; }
  sleep 1  # painted
  xwd -root -silent | convert xwd:- -crop "$geometry" +repage -strip -define png:exclude-chunks=date,time "$file"
  echo "$file ($geometry)"
}

# Runs a Windows program until its window is shot, then ends it by its pid.
run_and_shoot() {
  local title=$1 file=$2
  shift 2
  wine "$@" >"$state/run.log" 2>&1 &
  local pid=$!
  shoot "$title" "$file" || true
  kill "$pid" 2>/dev/null || true
  wait "$pid" 2>/dev/null || true
}

product='Lumora语音输入'
# The four dialogs, with the suffix $1 to their pictures' names.
shoot_dialogs() {
  run_and_shoot "$product - 设置" "$out/settings-dialog$1.png" "$build/tests/ui/dialog_gallery.exe" settings
  run_and_shoot "$product - 联系作者 & 问题反馈" "$out/contact-dialog$1.png" "$build/tests/ui/dialog_gallery.exe" contact
  run_and_shoot "$product - 新手机" "$out/phone-prompt$1.png" "$build/tests/ui/dialog_gallery.exe" phone
  rm -f "$WINEPREFIX"/drive_c/users/*/AppData/Roaming/Parlino/config.toml
  run_and_shoot "$product - 欢迎" "$out/first-run-dialog$1.png" "$build/app/LumoraVoiceInput.exe"
}
text_size 200
shoot_dialogs -200
text_size 100
shoot_dialogs ""

# The tray menu and the connection box of the running program, opened as the
# shell would open them.
roaming=$(ls -d "$WINEPREFIX"/drive_c/users/*/AppData/Roaming | head -n 1)
mkdir -p "$roaming/Parlino"
printf '%s\r\n' '# Parlino config' 'listen_port = 47823' 'press_enter_on_commit = true' \
  'use_clipboard_paste = false' 'auto_start = false' 'overlay_theme_color = "white"' \
  'overlay_position = "center"' >"$roaming/Parlino/config.toml"
wine "$build/app/LumoraVoiceInput.exe" >"$state/program.log" 2>&1 &
program=$!
wine "$build/tests/ui/tray_poke.exe" info >>"$state/run.log" 2>&1 || true
shoot "$product - IP 和端口" "$out/connection-info.png" || true
# Then the menu, which has no title: it is the only thing on the screen, so
# the picture is trimmed to it.
wine "$build/tests/ui/tray_poke.exe" close >>"$state/run.log" 2>&1 || true
sleep 1
wine "$build/tests/ui/tray_poke.exe" menu >>"$state/run.log" 2>&1 || true
sleep 2
xwd -root -silent | convert xwd:- -trim +repage -strip -define png:exclude-chunks=date,time "$out/tray-menu.png"
echo "$out/tray-menu.png"
kill "$program" 2>/dev/null || true
wait "$program" 2>/dev/null || true
