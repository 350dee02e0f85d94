#!/usr/bin/env bash
# Builds the Windows program and runs it under Wine until it exits. Uses the
# desktop in DISPLAY, or a virtual X server when there is none. The program's
# Wine prefix (its registry, its AppData) is kept in build/windows/wine-run.
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"

"$root/scripts/setup.sh"

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
