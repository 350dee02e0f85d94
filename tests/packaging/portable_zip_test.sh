#!/usr/bin/env bash
# The portable zip: one folder holding the built program (without its debug
# information) and a read-me that Notepad shows as Chinese text and that
# tells the port the program really uses.
#
#   portable_zip_test.sh ZIP PROGRAM.exe VERSION
set -uo pipefail

if [ $# -ne 3 ]; then
  echo "usage: $0 ZIP PROGRAM.exe VERSION" >&2
  exit 2
fi
zip_file=$1
program=$2
version=$3
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)

fail() {
  echo "FAIL: $*"
  exit 1
}

[ -f "$zip_file" ] || fail "no zip at $zip_file"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

echo "== contents of $(basename "$zip_file")"
names=$(unzip -Z1 "$zip_file" | sort) || fail "unzip cannot read the zip"
expected=$(printf '%s\n' LumoraVoiceInput/ LumoraVoiceInput/LumoraVoiceInput.exe LumoraVoiceInput/README.txt | sort)
[ "$names" = "$expected" ] || fail "the zip holds: $(echo "$names" | tr '\n' ' ')"
unzip -q "$zip_file" -d "$work" || fail "the zip does not unpack"
exe="$work/LumoraVoiceInput/LumoraVoiceInput.exe"
readme="$work/LumoraVoiceInput/README.txt"

echo "== the program"
objdump=x86_64-w64-mingw32-objdump
objcopy=x86_64-w64-mingw32-objcopy
if "$objdump" -h "$exe" | grep -q '\.debug_'; then
  fail "the zip's program still carries debug information"
fi
# Same code as the build's program: stripping must not change a byte of it.
"$objcopy" -O binary -j .text "$exe" "$work/zip.text" || fail "no code section in the zip's program"
"$objcopy" -O binary -j .text "$program" "$work/built.text" || fail "no code section in $program"
cmp -s "$work/zip.text" "$work/built.text" || fail "the zip's program is not the built program"
[ "$(stat -c %s "$exe")" -lt "$(stat -c %s "$program")" ] || fail "the zip's program is not smaller than the build's"

echo "== the read-me"
[ "$(head -c 3 "$readme" | od -An -tx1 | tr -d ' ')" = "efbbbf" ] || fail "README.txt does not start with a UTF-8 byte order mark"
iconv -f UTF-8 -t UTF-32 "$readme" >/dev/null 2>&1 || fail "README.txt is not valid UTF-8"
lines=$(wc -l <"$readme")
crlf_lines=$(grep -c $'\r$' "$readme")
if [ "$lines" -le 5 ] || [ "$lines" -ne "$crlf_lines" ]; then
  fail "README.txt: $crlf_lines of $lines lines end in CR LF"
fi
text=$(tr -d '\r' <"$readme")
contains() { [[ $text == *"$1"* ]] || fail "README.txt does not mention '$1'"; }
contains "Lumora语音输入"
contains "$version"
contains "LumoraVoiceInput.exe"
contains '%APPDATA%\Parlino\config.toml'
contains '%LOCALAPPDATA%\Parlino\ParlinoApp.log'
[[ $text != *@VERSION@* ]] || fail "README.txt still holds @VERSION@"
# The port a user types into the phone is the program's default port.
default_port=$(sed -nE 's/.*kDefaultListenPort = ([0-9]+);.*/\1/p' "$root/config/app_config.h")
[ -n "$default_port" ] || fail "no kDefaultListenPort in config/app_config.h"
contains "端口 $default_port"

echo "portable zip: OK"
