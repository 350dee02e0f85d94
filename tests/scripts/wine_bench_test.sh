#!/usr/bin/env bash
# The Wine bench's start and stop: nothing the bench starts keeps its lock
# files open (a bench whose script died would otherwise stay locked, and every
# later start and stop would wait), and stop kills no process that is not the
# bench's own, whatever number an old pid file holds.
#
#   wine_bench_test.sh STATE      (STATE: a folder of this test's own)
set -uo pipefail

[ $# -eq 1 ] || {
  echo "usage: $0 STATE" >&2
  exit 2
}
bench="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)/scripts/wine-bench.sh"
state=$1

fail() {
  echo "FAIL: $*"
  exit 1
}

"$bench" stop "$state" >/dev/null 2>&1
rm -rf "$state"
sleep 600 </dev/null >/dev/null 2>&1 &
stranger=$!
cleanup() {
  kill "$stranger" 2>/dev/null
  "$bench" stop "$state" >/dev/null 2>&1
}
trap cleanup EXIT

# Pid files left by a bench long gone, their number now another program's.
mkdir -p "$state"
echo "$stranger" >"$state/wineserver.pid"
echo "$stranger" >"$state/xvfb.pid"
echo ":199" >"$state/display"
"$bench" stop "$state" || fail "stop of a stale bench failed"
kill -0 "$stranger" 2>/dev/null || fail "stop killed process $stranger, which was not the bench's"

env -u DISPLAY "$bench" start "$state" || fail "the bench did not start"
state=$(cd "$state" && pwd)
server=$(cat "$state/wineserver.pid")
xvfb=$(cat "$state/xvfb.pid")
# The bench's Xvfb, its wineserver and every Wine process of its prefix.
pids="$xvfb $server $(grep -lsxF "WINEPREFIX=$state/prefix" --null-data /proc/[0-9]*/environ | cut -d/ -f3)"
for pid in $pids; do
  for fd in /proc/"$pid"/fd/*; do
    case "$(readlink "$fd" 2>/dev/null)" in
      "$state/lock" | /tmp/parlino-xvfb.lock) fail "process $pid ($(tr '\0' ' ' <"/proc/$pid/cmdline")) holds $(readlink "$fd")" ;;
    esac
  done
done

"$bench" stop "$state" || fail "stop failed"
for pid in "$server" "$xvfb"; do
  for _ in $(seq 1 50); do
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.1
  done
  kill -0 "$pid" 2>/dev/null && fail "process $pid of the bench still runs after stop"
done
echo "ok"
