#!/usr/bin/env bash
# The installer's round trip under Wine, as a user goes through it:
#   silent install -> files, Start-menu shortcut, installed-programs entry
#   -> the program started from the shortcut listens and registers itself in
#      the Run key -> an update installed over the running program replaces it
#   -> silent uninstall while it runs -> program stopped cleanly; program,
#      shortcut, entry and Run value gone; config.toml and the log kept.
#
#   installer_round_trip_test.sh SETUP.exe VERSION STATE
#
# STATE is a Wine bench of this test's own, made afresh at every run: the
# other Windows tests' prefix is never touched, and nothing left over from an
# earlier run can hide a fault. The bench is stopped at the end.
set -uo pipefail

if [ $# -ne 3 ]; then
  echo "usage: $0 SETUP.exe VERSION STATE" >&2
  exit 2
fi
setup=$1
version=$2
state=$3
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
bench="$root/scripts/wine-bench.sh"

# Wine reads file names given on its command line in the locale's encoding;
# the shortcut's name is Chinese.
export LC_ALL=C.UTF-8

fail() {
  echo "FAIL: $*"
  exit 1
}
step() { echo "== $*"; }

# Polls a command until it succeeds or SECONDS have passed.
wait_until() {
  local seconds=$1
  shift
  local end=$((SECONDS + seconds))
  until "$@"; do
    [ "$SECONDS" -lt "$end" ] || return 1
    sleep 0.2
  done
}

[ -f "$setup" ] || fail "no installer at $setup"
win_exe=""

"$bench" stop "$state" >/dev/null 2>&1 || true
rm -rf "$state"
cleanup() {
  local pid
  for pid in $(program_pids); do
    kill -9 "$pid" 2>/dev/null || true
  done
  "$bench" stop "$state" >/dev/null 2>&1 || true
}
trap cleanup EXIT

step "fresh Wine prefix in $state"
"$bench" start "$state" || fail "the Wine bench did not start"
# shellcheck disable=SC1091
. "$state/bench.env"
# Wine would turn the Start-menu shortcut into a menu entry of the Linux
# desktop; the shortcut itself is what is tested.
export WINEDLLOVERRIDES="$WINEDLLOVERRIDES;winemenubuilder.exe=d"

profile=$(find "$WINEPREFIX/drive_c/users" -mindepth 1 -maxdepth 1 -type d ! -name Public | head -n 1)
[ -n "$profile" ] || fail "no user profile in the prefix"
user=$(basename "$profile")

product="Lumora语音输入"
install_dir="$profile/AppData/Local/Programs/LumoraVoiceInput"
win_install_dir="C:\\users\\$user\\AppData\\Local\\Programs\\LumoraVoiceInput"
win_exe="$win_install_dir\\LumoraVoiceInput.exe"
shortcut="$profile/AppData/Roaming/Microsoft/Windows/Start Menu/Programs/$product.lnk"
config="$profile/AppData/Roaming/Parlino/config.toml"
log="$profile/AppData/Local/Parlino/ParlinoApp.log"
uninstall_key='HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall\Lumora.Parlino'
run_key='HKCU\Software\Microsoft\Windows\CurrentVersion\Run'

winpath() { printf 'Z:%s' "$(echo "$1" | tr '/' '\\')"; }

# Every Wine command's output goes to a file: Wine's helper processes keep
# the standard handles they inherit, and a pipe would wait for them.
wine_quiet() { wine "$@" </dev/null >>"$state/wine.out" 2>&1; }

# A registry key as .reg text in UTF-8 (reg query would print the Chinese
# names through the console code page, as question marks).
reg_export() {
  rm -f "$state/export.reg"
  wine_quiet reg export "$1" "$(winpath "$state/export.reg")" /y || return 1
  iconv -f UTF-16 -t UTF-8 "$state/export.reg" | tr -d '\r'
}

# The data of value NAME in .reg text on standard input: strings unquoted and
# unescaped, other types as written (dword:00000001).
reg_value() {
  local line
  line=$(grep -m 1 -F "\"$1\"=") || return 1
  line=${line#\""$1"\"=}
  if [[ $line == \"*\" ]]; then
    line=${line:1:${#line}-2}
    line=$(printf '%s' "$line" | sed -E 's/\\(.)/\1/g')
  fi
  printf '%s\n' "$line"
}

reg_has_key() { wine_quiet reg query "$1"; }
reg_has_value() { wine_quiet reg query "$1" /v "$2"; }
entry_gone() { ! reg_has_key "$uninstall_key"; }

# Linux process ids of the installed program running in this prefix.
program_pids() {
  local p cmd
  [ -n "$win_exe" ] || return 0
  for p in /proc/[0-9]*; do
    cmd=$(tr '\0' '\n' 2>/dev/null <"$p/cmdline" | head -n 1) || continue
    case "$cmd" in
      "$win_exe"*) ;;
      *) continue ;;
    esac
    if tr '\0' '\n' 2>/dev/null <"$p/environ" | grep -qxF "WINEPREFIX=${WINEPREFIX:-}"; then
      echo "${p#/proc/}"
    fi
  done
}
program_running() { [ -n "$(program_pids)" ]; }
program_stopped() { ! program_running; }

# How many lines of the program's log match the extended regular expression.
log_count() {
  if [ -f "$log" ]; then
    tr -d '\r' <"$log" | grep -c -E "$1"
  else
    echo 0
  fi
}
log_count_is() { [ "$(log_count "$1")" -eq "$2" ]; }
listening="ParlinoServer: listening on port"

# A port nothing on this machine uses, so that the program's server can bind it.
free_port() {
  local port i
  for i in $(seq 1 100); do
    port=$((20000 + (RANDOM * 7 + i) % 40000))
    if ! grep -q -i "$(printf ':%04X ' "$port")" /proc/net/tcp /proc/net/tcp6 2>/dev/null; then
      echo "$port"
      return 0
    fi
  done
  return 1
}

start_from_shortcut() {
  wine_quiet start /unix "$shortcut" || fail "starting the Start-menu shortcut failed"
}

step "silent install: $(basename "$setup") /S"
wine_quiet "$setup" /S || fail "the installer exited with $?"
[ -f "$install_dir/LumoraVoiceInput.exe" ] || fail "no program in $install_dir"
[ "$(head -c 2 "$install_dir/LumoraVoiceInput.exe")" = "MZ" ] || fail "the installed program is no Windows executable"
[ -f "$install_dir/uninstall.exe" ] || fail "no uninstaller in $install_dir"
[ -f "$shortcut" ] || fail "no Start-menu shortcut at $shortcut"

step "installed-programs entry"
entry=$(reg_export "$uninstall_key") || fail "no key $uninstall_key"
expect_value() {
  local got
  got=$(printf '%s\n' "$entry" | reg_value "$1") || fail "the entry has no $1"
  [ "$got" = "$2" ] || fail "the entry's $1 is '$got', not '$2'"
}
expect_value DisplayName "$product"
expect_value DisplayVersion "$version"
expect_value Publisher "Lumora"
expect_value InstallLocation "$win_install_dir"
expect_value UninstallString "\"$win_install_dir\\uninstall.exe\""
expect_value QuietUninstallString "\"$win_install_dir\\uninstall.exe\" /S"
expect_value DisplayIcon "$win_exe,0"
expect_value NoModify "dword:00000001"
expect_value NoRepair "dword:00000001"
size=$(printf '%s\n' "$entry" | reg_value EstimatedSize) || fail "the entry has no EstimatedSize"
[ $((16#${size#dword:})) -gt 100 ] || fail "EstimatedSize $size is not the program's size in KiB"

port=$(free_port) || fail "no free port"
step "settings: port $port, start with Windows on"
mkdir -p "$(dirname "$config")"
printf '# Parlino config\r\nlisten_port = %s\r\npress_enter_on_commit = true\r\nuse_clipboard_paste = false\r\nauto_start = true\r\noverlay_theme_color = "white"\r\noverlay_position = "center"\r\n' \
  "$port" >"$config"
cp "$config" "$state/config.written"

step "start from the Start-menu shortcut"
start_from_shortcut
wait_until 20 log_count_is "$listening $port$" 1 ||
  fail "the installed program did not log that it listens on port $port"
wait_until 5 program_running || fail "no process of $win_exe"
{ exec 3<>"/dev/tcp/127.0.0.1/$port"; } 2>/dev/null || fail "nothing accepts connections on port $port"
IFS= read -r -t 5 welcome <&3 || fail "no welcome on port $port"
exec 3<&- 3>&-
[[ $welcome == *'"type":"welcome"'* && $welcome == *'"server":"Parlino"'* ]] ||
  fail "port $port answered '$welcome', not Parlino's welcome"
run_value=$(reg_export "$run_key" | reg_value Lumora.Parlino) || fail "no Run value Lumora.Parlino"
[ "$run_value" = "\"$win_exe\"" ] || fail "the Run value is '$run_value', not the installed program"

step "install again over the running program (an update)"
wine_quiet "$setup" /S || fail "the second install exited with $?"
wait_until 15 program_stopped || fail "the installer left the running program running"
log_count_is "] Parlino exit$" 1 || fail "the installer did not let the running program end cleanly"
[ -f "$install_dir/LumoraVoiceInput.exe" ] || fail "the update removed the program"
start_from_shortcut
wait_until 20 log_count_is "$listening $port$" 2 ||
  fail "the updated program did not listen again"
wait_until 5 program_running || fail "no process of the updated program"

step "silent uninstall while the program runs"
uninstall_string=$(reg_export "$uninstall_key" | reg_value UninstallString) || fail "no UninstallString"
uninstaller=${uninstall_string#\"}
uninstaller=${uninstaller%\"}
# The uninstaller copies itself to the temporary folder and returns at once;
# the copy does the work.
wine_quiet "$uninstaller" /S || fail "the uninstaller exited with $?"
wait_until 20 program_stopped || fail "the uninstaller left the program running"
wait_until 20 entry_gone || fail "the installed-programs entry is still there"
log_count_is "] Parlino exit$" 2 || fail "the program did not end cleanly (terminated instead of closed?)"
[ ! -e "$install_dir" ] || fail "$install_dir is still there: $(ls -A "$install_dir" | tr '\n' ' ')"
[ ! -e "$shortcut" ] || fail "the Start-menu shortcut is still there"
! reg_has_value "$run_key" Lumora.Parlino || fail "the Run value Lumora.Parlino is still there"
reg_has_key "$run_key" || fail "the uninstaller removed the whole Run key"
cmp -s "$config" "$state/config.written" || fail "config.toml was removed or changed"
[ -s "$log" ] || fail "the log was removed"

echo "installer round trip: OK"
