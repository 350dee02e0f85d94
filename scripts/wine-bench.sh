#!/usr/bin/env bash
# The Wine bench: an isolated Wine prefix, an X server and a persistent
# wineserver that Windows tests and the run command share.
#
#   wine-bench.sh start STATE      prefix (created once), Xvfb if no DISPLAY,
#                                  persistent wineserver; idempotent
#   wine-bench.sh stop STATE       stops this bench's wineserver and Xvfb by pid
#   wine-bench.sh env STATE        prints the environment as shell exports
#   wine-bench.sh exec STATE CMD.. starts the bench if needed and runs CMD with
#                                  the bench's environment
#
# STATE is a folder of the bench's own (the prefix lives in STATE/prefix).
# Every process is started with its output sent to files: Wine's helper
# processes inherit the standard handles of whoever started them, and a
# caller reading a pipe would otherwise wait for them. For the same reason
# every process is started with the lock files (descriptors 8 and 9) closed:
# an Xvfb or a wineserver holding one would keep the lock of a bench whose
# script died, and every later start and stop would wait for it.
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)

usage() {
  echo "usage: $0 start|stop|env STATE | exec STATE CMD..." >&2
  exit 2
}

[ $# -ge 2 ] || usage
cmd=$1
# Nothing to stop where no bench ever was; and no folder made for it.
if [ "$cmd" = stop ] && [ ! -d "$2" ]; then
  exit 0
fi
state=$(mkdir -p "$2" && cd "$2" && pwd)
shift 2

prefix="$state/prefix"
envfile="$state/bench.env"

base_env() {
  export WINEPREFIX="$prefix"
  export WINEDEBUG=-all
  export WINEDLLOVERRIDES="mscoree,mshtml="
  export WINEARCH=win64
}

pid_alive() {
  [ -n "${1:-}" ] && kill -0 "$1" 2>/dev/null
}

# A pid file outlives its process, and the number may since belong to another
# program: before the bench trusts or kills a pid, it checks that the process
# is its own.
# Whether PID is this bench's Xvfb: "Xvfb" serving the bench's display.
is_bench_xvfb() {
  local pid=${1:-} display
  pid_alive "$pid" || return 1
  display=$(cat "$state/display" 2>/dev/null) || return 1
  local -a args
  mapfile -d '' args <"/proc/$pid/cmdline" 2>/dev/null || return 1
  [ "${#args[@]}" -ge 2 ] && [ "$(basename -- "${args[0]}")" = Xvfb ] && [ "${args[1]}" = "$display" ]
}

# Whether PID is this bench's wineserver: a wineserver of the bench's prefix.
is_bench_wineserver() {
  local pid=${1:-}
  pid_alive "$pid" || return 1
  local -a args
  mapfile -d '' args <"/proc/$pid/cmdline" 2>/dev/null || return 1
  # /usr/bin/wineserver is a shell script that execs the server binary: for
  # a moment the process is "sh -e /usr/bin/wineserver".
  local arg found=1
  for arg in "${args[@]:0:3}"; do
    case "$(basename -- "$arg")" in
      wineserver*) found=0 ;;
    esac
  done
  [ "$found" -eq 0 ] || return 1
  tr '\0' '\n' <"/proc/$pid/environ" 2>/dev/null | grep -qxF "WINEPREFIX=$prefix"
}

# Takes the lock on descriptor FD, giving up after SECONDS.
take_lock() {
  local fd=$1 seconds=$2 what=$3
  flock -w "$seconds" "$fd" && return 0
  echo "wine-bench: $what still locked after $seconds s" >&2
  return 1
}

start_xvfb() {
  # Picks the first free display; the global lock keeps two benches that start
  # at once from racing for the same number.
  exec 8>/tmp/parlino-xvfb.lock
  take_lock 8 120 /tmp/parlino-xvfb.lock || return 1
  local n
  for n in $(seq 90 199); do
    if [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ]; then
      continue
    fi
    setsid Xvfb ":$n" -screen 0 1280x800x24 -nolisten tcp \
      </dev/null >"$state/xvfb.log" 2>&1 8>&- 9>&- &
    local pid=$!
    local i
    for i in $(seq 1 100); do
      if [ -e "/tmp/.X11-unix/X$n" ]; then
        echo "$pid" >"$state/xvfb.pid"
        echo ":$n" >"$state/display"
        flock -u 8
        exec 8>&-
        return 0
      fi
      pid_alive "$pid" || break
      sleep 0.05
    done
    kill "$pid" 2>/dev/null || true
  done
  flock -u 8
  exec 8>&-
  echo "wine-bench: no free X display" >&2
  return 1
}

ensure_display() {
  if [ -f "$state/display" ]; then
    if [ ! -f "$state/xvfb.pid" ] || is_bench_xvfb "$(cat "$state/xvfb.pid")"; then
      return 0
    fi
  fi
  rm -f "$state/display" "$state/xvfb.pid"
  if [ -n "${DISPLAY:-}" ]; then
    echo "$DISPLAY" >"$state/display"
  else
    start_xvfb
  fi
}

ensure_prefix() {
  [ -f "$prefix/.parlino-ready" ] && return 0
  base_env
  export DISPLAY
  DISPLAY=$(cat "$state/display")
  rm -rf "$prefix"
  mkdir -p "$prefix"
  wineboot -i </dev/null >"$state/wineboot.log" 2>&1 9>&-
  wine regedit /S "$(winepath_of "$here/wine-fonts.reg")" </dev/null >>"$state/wineboot.log" 2>&1 9>&-
  # The font replacements take effect with the next wineserver.
  wineserver -k >/dev/null 2>&1 9>&- || true
  wineserver -w >/dev/null 2>&1 9>&- || true
  touch "$prefix/.parlino-ready"
}

winepath_of() {
  # Wine maps the Linux root to drive Z:.
  printf 'Z:%s' "$(echo "$1" | tr '/' '\\')"
}

ensure_wineserver() {
  base_env
  export DISPLAY
  DISPLAY=$(cat "$state/display")
  if [ -f "$state/wineserver.pid" ] && is_bench_wineserver "$(cat "$state/wineserver.pid")"; then
    return 0
  fi
  setsid wineserver -f -p </dev/null >"$state/wineserver.log" 2>&1 9>&- &
  echo $! >"$state/wineserver.pid"
  # Start the prefix's services now, from a process whose output goes to a
  # file, so that no test inherits them.
  wine cmd /c exit </dev/null >"$state/services.log" 2>&1 9>&- || true
}

write_env() {
  {
    echo "export WINEPREFIX='$prefix'"
    echo "export WINEDEBUG=-all"
    echo "export WINEDLLOVERRIDES='mscoree,mshtml='"
    echo "export WINEARCH=win64"
    echo "export DISPLAY='$(cat "$state/display")'"
  } >"$envfile.tmp"
  mv "$envfile.tmp" "$envfile"
}

# On an X server of the bench's own there is no window manager: a window
# Wine leaves to one ("managed") then waits two seconds for its answer each
# time it is hidden or destroyed, so every dialog closed in a test cost two
# seconds. Wine manages no window there; on a desktop's display the window
# manager keeps them.
ensure_managed() {
  local managed=Y
  [ -f "$state/xvfb.pid" ] && managed=N
  [ "$(cat "$prefix/.parlino-managed" 2>/dev/null || true)" = "$managed" ] && return 0
  wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d "$managed" /f \
    </dev/null >>"$state/wineboot.log" 2>&1 9>&-
  echo "$managed" >"$prefix/.parlino-managed"
}

do_start() {
  exec 9>"$state/lock"
  take_lock 9 120 "$state/lock" || exit 1
  ensure_display
  ensure_prefix
  ensure_wineserver
  ensure_managed
  write_env
  flock -u 9
  exec 9>&-
}

do_stop() {
  exec 9>"$state/lock"
  # A bench started by an older script may have left the lock to its own
  # Xvfb or wineserver: stopping those releases it.
  take_lock 9 30 "$state/lock" || echo "wine-bench: stopping $state without the lock" >&2
  if [ -d "$prefix" ]; then
    base_env
    wineserver -k >/dev/null 2>&1 9>&- || true
  fi
  if [ -f "$state/wineserver.pid" ]; then
    local pid
    pid=$(cat "$state/wineserver.pid")
    local i
    for i in $(seq 1 100); do
      is_bench_wineserver "$pid" || break
      sleep 0.05
    done
    if is_bench_wineserver "$pid"; then
      kill -9 "$pid" 2>/dev/null || true
    fi
    rm -f "$state/wineserver.pid"
  fi
  if [ -f "$state/xvfb.pid" ]; then
    local xvfb
    xvfb=$(cat "$state/xvfb.pid")
    if is_bench_xvfb "$xvfb"; then
      kill "$xvfb" 2>/dev/null || true
    fi
    rm -f "$state/xvfb.pid"
  fi
  rm -f "$state/display" "$envfile"
  flock -u 9
  exec 9>&-
}

case "$cmd" in
  start) do_start ;;
  stop) do_stop ;;
  env)
    [ -f "$envfile" ] || do_start
    cat "$envfile"
    ;;
  exec)
    [ $# -ge 1 ] || usage
    do_start
    # shellcheck disable=SC1090
    . "$envfile"
    exec "$@"
    ;;
  *) usage ;;
esac
