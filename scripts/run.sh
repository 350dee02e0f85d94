#!/usr/bin/env bash
# Builds the Windows program and runs it under Wine until it exits. Uses the
# desktop in DISPLAY, or a virtual X server when there is none. The program's
# Wine prefix (its registry, its AppData) is kept in build/windows/wine-run.
#
# scripts/run.sh --linux builds and runs the Linux program instead, natively:
# on the desktop in DISPLAY with its session bus, or on a virtual X server
# with a session bus of its own.
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"

"$root/scripts/setup.sh"

if [ "${1:-}" = "--linux" ]; then
  mkdir -p build/logs
  if ! cmake --preset linux >build/logs/configure-linux.log 2>&1; then
    tail -n 40 build/logs/configure-linux.log
    exit 1
  fi
  cmake --build --preset linux --target lumora-voice-input phone_sim -j "$(nproc)"
  program="$root/build/linux/app/lumora-voice-input"
  xvfb_pid=
  program_pid=
  cleanup() {
    if [ -n "$program_pid" ]; then
      kill "$program_pid" 2>/dev/null || true
      wait "$program_pid" 2>/dev/null || true
    fi
    if [ -n "$xvfb_pid" ]; then
      kill "$xvfb_pid" 2>/dev/null || true
      wait "$xvfb_pid" 2>/dev/null || true
    fi
  }
  trap cleanup EXIT
  if [ -z "${DISPLAY:-}" ]; then
    # A virtual X server of this run's own; -noreset keeps its keymap when
    # the last client leaves.
    fifo=$(mktemp -u)
    mkfifo "$fifo"
    # In a session of its own, so that Ctrl+C reaches the program, not the
    # X server under it.
    setsid Xvfb -displayfd 3 -noreset -nolisten tcp -screen 0 1280x800x24 3>"$fifo" >/dev/null 2>&1 &
    xvfb_pid=$!
    read -r number <"$fifo"
    rm -f "$fifo"
    export DISPLAY=":$number"
  fi
  echo "== running lumora-voice-input (DISPLAY=$DISPLAY); dictate with:"
  echo "   build/linux/tools/phone_sim/phone_sim 127.0.0.1 47823 --dictate \"你好 世界\""
  trap 'exit 130' INT TERM
  set +e
  if [ -z "${DBUS_SESSION_BUS_ADDRESS:-}" ]; then
    dbus-run-session -- "$program" &
  else
    "$program" &
  fi
  program_pid=$!
  wait "$program_pid"
  rc=$?
  program_pid=
  set -e
  echo "== lumora-voice-input exited with $rc"
  exit "$rc"
fi

mkdir -p build/logs
if ! cmake --preset windows >build/logs/configure-windows.log 2>&1; then
  tail -n 40 build/logs/configure-windows.log
  exit 1
fi
cmake --build --preset windows --target LumoraVoiceInput -j "$(nproc)"

state="$root/build/windows/wine-run"
trap '"$root/scripts/wine-bench.sh" stop "$state" >/dev/null 2>&1 || true' EXIT
"$root/scripts/wine-bench.sh" start "$state"
# shellcheck disable=SC1091
. "$state/bench.env"

echo "== running LumoraVoiceInput.exe under Wine (DISPLAY=$DISPLAY)"
# In the background and waited for, so that Ctrl+C or a TERM reaches this
# script at once: its exit trap then ends the bench's wineserver, and with it
# the program.
trap 'exit 130' INT TERM
set +e
wine "$root/build/windows/app/LumoraVoiceInput.exe" </dev/null >"$state/program.out" 2>&1 &
wait $!
rc=$?
set -e
echo "== LumoraVoiceInput.exe exited with $rc"

log=$(find "$WINEPREFIX/drive_c/users" -path '*AppData/Local/Parlino/ParlinoApp.log' 2>/dev/null | head -n 1)
if [ -n "$log" ]; then
  echo "== last lines of $log"
  tail -n 5 "$log" | tr -d '\r'
fi
exit "$rc"
