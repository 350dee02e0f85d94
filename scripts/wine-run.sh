#!/usr/bin/env bash
# Runs a Windows program on the Wine bench: the emulator that ctest uses for
# the .exe tests.  usage: wine-run.sh STATE PROGRAM.exe [ARGS...]
#
# The program's output goes to a file first and is printed once it exits:
# Wine's helper processes keep the standard handles they inherit, and ctest
# would wait on its pipe until they are gone.
set -uo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
state=$1
shift

# Each test bench gets an X server of its own even when DISPLAY is set: two
# benches run side by side, and a shared desktop would mix their focus,
# clipboard and windows.
env -u DISPLAY "$here/wine-bench.sh" start "$state" || exit 125
# shellcheck disable=SC1091
. "$state/bench.env"

out=$(mktemp "$state/run.XXXXXX")
wine "$@" </dev/null >"$out" 2>&1
rc=$?
cat "$out"
rm -f "$out"
exit $rc
