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
# caller reading a pipe would otherwise wait for them.
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)

usage() {
  echo "usage: $0 start|stop|env STATE | exec STATE CMD..." >&2
  exit 2
}

[ $# -ge 2 ] || usage
cmd=$1
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

start_xvfb() {
  # Picks the first free display; the global lock keeps two benches that start
  # at once from racing for the same number.
  exec 8>/tmp/parlino-xvfb.lock
  flock 8
  local n
  for n in $(seq 90 199); do
    if [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ]; then
      continue
    fi
    setsid Xvfb ":$n" -screen 0 1280x800x24 -nolisten tcp \
      </dev/null >"$state/xvfb.log" 2>&1 &
    local pid=$!
    local i
    for i in $(seq 1 100); do
      if [ -e "/tmp/.X11-unix/X$n" ]; then
        echo "$pid" >"$state/xvfb.pid"
        echo ":$n" >"$state/display"
        flock -u 8
        return 0
      fi
      pid_alive "$pid" || break
      sleep 0.05
    done
    kill "$pid" 2>/dev/null || true
  done
  flock -u 8
  echo "wine-bench: no free X display" >&2
  return 1
}

ensure_display() {
  if [ -f "$state/display" ]; then
    if [ ! -f "$state/xvfb.pid" ] || pid_alive "$(cat "$state/xvfb.pid")"; then
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
  wineboot -i </dev/null >"$state/wineboot.log" 2>&1
  wine regedit /S "$(winepath_of "$here/wine-fonts.reg")" </dev/null >>"$state/wineboot.log" 2>&1
  # The font replacements take effect with the next wineserver.
  wineserver -k >/dev/null 2>&1 || true
  wineserver -w >/dev/null 2>&1 || true
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
  if [ -f "$state/wineserver.pid" ] && pid_alive "$(cat "$state/wineserver.pid")"; then
    return 0
  fi
  setsid wineserver -f -p </dev/null >"$state/wineserver.log" 2>&1 &
  echo $! >"$state/wineserver.pid"
  # Start the prefix's services now, from a process whose output goes to a
  # file, so that no test inherits them.
  wine cmd /c exit </dev/null >"$state/services.log" 2>&1 || true
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
    </dev/null >>"$state/wineboot.log" 2>&1
  echo "$managed" >"$prefix/.parlino-managed"
}

do_start() {
  exec 9>"$state/lock"
  flock 9
  ensure_display
  ensure_prefix
  ensure_wineserver
  ensure_managed
  write_env
  flock -u 9
}

do_stop() {
  exec 9>"$state/lock"
  flock 9
  if [ -d "$prefix" ]; then
    base_env
    wineserver -k >/dev/null 2>&1 || true
  fi
  if [ -f "$state/wineserver.pid" ]; then
    local pid
    pid=$(cat "$state/wineserver.pid")
    local i
    for i in $(seq 1 100); do
      pid_alive "$pid" || break
      sleep 0.05
    done
    pid_alive "$pid" && kill -9 "$pid" 2>/dev/null || true
    rm -f "$state/wineserver.pid"
  fi
  if [ -f "$state/xvfb.pid" ]; then
    kill "$(cat "$state/xvfb.pid")" 2>/dev/null || true
    rm -f "$state/xvfb.pid"
  fi
  rm -f "$state/display" "$envfile"
  flock -u 9
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
