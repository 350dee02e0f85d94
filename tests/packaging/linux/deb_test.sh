#!/usr/bin/env bash
# The .deb as apt would install it: its files, its version and libraries, a
# desktop entry the menus accept that names the packaged program and icons,
# and the program, started from an unpacked root on an X server of this
# test's own, listening on the port of its config.toml and ending cleanly on
# SIGTERM (as at the end of a session).
#
#   deb_test.sh PACKAGE.deb VERSION
set -uo pipefail

[ $# -eq 2 ] || { echo "usage: $0 PACKAGE.deb VERSION" >&2; exit 2; }
deb=$1
version=$2
name=lumora-voice-input

fail() { echo "FAIL: $*"; exit 1; }

# Polls a command until it succeeds or SECONDS have passed.
wait_until() {
  local end=$((SECONDS + $1))
  shift
  until "$@"; do
    [ "$SECONDS" -lt "$end" ] || return 1
    sleep 0.1
  done
}

[ -f "$deb" ] || fail "no package at $deb"
work=$(mktemp -d)
xvfb_pid=""
program_pid=""
cleanup() {
  [ -z "$program_pid" ] || { kill -KILL "$program_pid"; wait "$program_pid"; } 2>/dev/null
  # SIGTERM, so that Xvfb removes its lock file and socket.
  [ -z "$xvfb_pid" ] || { kill -TERM "$xvfb_pid"; wait "$xvfb_pid"; } 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

echo "== the package"
# Every file with its mode and owner: nothing missing, nothing else.
files=$(dpkg-deb -c "$deb" | awk '$1 !~ /^d/ { sub(/^\.\//, "", $6); print $1, $2, $6 }' | sort -k3)
expected="-rwxr-xr-x root/root usr/bin/$name
-rw-r--r-- root/root usr/share/applications/$name.desktop"
for size in 16 24 32 48 64 128 256; do
  expected+=$'\n'"-rw-r--r-- root/root usr/share/icons/hicolor/${size}x${size}/apps/$name.png"
done
[ "$files" = "$(sort -k3 <<<"$expected")" ] || fail "the package holds:"$'\n'"$files"
[ "$(dpkg-deb -f "$deb" Version)" = "$version" ] || fail "Version is '$(dpkg-deb -f "$deb" Version)', not $version"
# Without them apt would install the program where it cannot start.
depends=$(dpkg-deb -f "$deb" Depends)
for library in libc6 libqt6widgets6 libx11-6 libxtst6; do
  [[ $depends =~ (^|[ ,])$library([ ,]|$) ]] || fail "Depends lacks $library: '$depends'"
done

root="$work/root"
dpkg-deb -x "$deb" "$root" || fail "the package does not unpack"
program="$root/usr/bin/$name"
entry="$root/usr/share/applications/$name.desktop"
sections=$(readelf -S "$program" 2>&1) || fail "usr/bin/$name is not an ELF program: $sections"
! grep -q '\.debug_' <<<"$sections" || fail "the packaged program still carries debug information"

echo "== the desktop entry"
desktop-file-validate "$entry" || fail "desktop-file-validate rejects the desktop entry"
# The menu runs Exec through PATH and draws Icon from the theme.
exec_program=$(sed -n 's/^Exec=//p' "$entry")
[ -x "$root/usr/bin/$exec_program" ] || fail "Exec=$exec_program is not a program of the package"
icon=$(sed -n 's/^Icon=//p' "$entry")
for png in "$root"/usr/share/icons/hicolor/*/apps/*.png; do
  folder=$(basename "$(dirname "$(dirname "$png")")")
  [ "$(basename "$png" .png)" = "$icon" ] || fail "$png is not named for Icon=$icon"
  drawn=$(identify -format '%wx%h' "$png") || fail "$png is not a picture"
  [ "$drawn" = "$folder" ] || fail "the $folder icon is $drawn"
done

echo "== the unpacked program on an X server of its own"
config_home="$work/config"
state_home="$work/state"
runtime="$work/runtime"
mkdir -p "$work/home" "$config_home/Parlino" "$state_home" "$runtime"
chmod 700 "$runtime"
log="$state_home/Parlino/ParlinoApp.log"

port=""
for _ in $(seq 1 200); do
  candidate=$((20000 + RANDOM % 12000))
  if ! awk 'FNR > 1 { print $2 }' /proc/net/tcp /proc/net/tcp6 | grep -qi ":$(printf '%04X' "$candidate")$"; then
    port=$candidate
    break
  fi
done
[ -n "$port" ] || fail "no free port in 20000..31999"
printf 'listen_port = %s\n' "$port" >"$config_home/Parlino/config.toml"

# Xvfb writes its display's number on fd 3 once it accepts clients.
Xvfb -displayfd 3 -noreset -nolisten tcp -screen 0 1024x768x24 3>"$work/display" 2>"$work/xvfb.log" &
xvfb_pid=$!
display_known() { grep -q '^[0-9][0-9]*$' "$work/display"; }
xvfb_settled() { display_known || ! kill -0 "$xvfb_pid" 2>/dev/null; }
wait_until 20 xvfb_settled
display_known || fail "Xvfb gave no display: $(cat "$work/xvfb.log")"

# Nothing of the developer's session (D-Bus, Wayland, settings, log) reaches
# the program; the bus address leads nowhere, so that D-Bus does not start a
# bus of its own either.
env -i PATH=/usr/bin:/bin LANG=C.UTF-8 HOME="$work/home" DISPLAY=":$(cat "$work/display")" \
  XDG_CONFIG_HOME="$config_home" XDG_STATE_HOME="$state_home" XDG_RUNTIME_DIR="$runtime" \
  DBUS_SESSION_BUS_ADDRESS="unix:path=$runtime/no-bus" "$program" >"$work/program.out" 2>&1 &
program_pid=$!

# Bash reaps its children as they end (keeping the status for wait), but a
# zombie not yet reaped still answers kill -0.
running() { kill -0 "$program_pid" 2>/dev/null && ! [ "$(sed 's/.*) //' "/proc/$program_pid/stat" 2>/dev/null | cut -d' ' -f1)" = Z ]; }
listening() { grep -qF "ParlinoServer: listening on port $port" "$log" 2>/dev/null; }
listening_or_ended() { listening || ! running; }
wait_until 20 listening_or_ended
running || fail "the program ended before it listened: $(cat "$work/program.out" "$log" 2>/dev/null)"
listening || fail "the program did not listen on port $port within 20 s; its log: $(cat "$log" 2>/dev/null)"

kill -TERM "$program_pid"
stopped() { ! running; }
wait_until 20 stopped || fail "the program is still running 20 s after SIGTERM"
wait "$program_pid"
status=$?
program_pid=""
[ "$status" -eq 0 ] || fail "the program ended with status $status on SIGTERM: $(cat "$work/program.out")"
# "Parlino exit" last, or followed only by the server saying it stopped.
ending=$(tail -n 2 "$log" | tr -d '\r' | sed 's/^\[[^]]*\] //')
[[ $ending == *$'\n'"Parlino exit" || $ending == "Parlino exit"$'\n'"ParlinoServer: stopped" ]] ||
  fail "the log does not end with 'Parlino exit':"$'\n'"$(tail -n 5 "$log")"

echo "deb: OK"
