#!/usr/bin/env bash
# Makes what a user downloads from a built LumoraVoiceInput.exe:
#   LumoraVoiceInput-VERSION-portable.zip   the program and a Chinese read-me
#   LumoraVoiceInput-VERSION-setup.exe      the NSIS installer (installer.nsi)
#
#   packaging/make.sh PROGRAM.exe VERSION OUTDIR
#
# scripts/package.sh calls it after a build; the packaging tests call it
# through a CMake target. Needs makensis (nsis), zip and MinGW-w64's strip.
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)

if [ $# -ne 3 ]; then
  echo "usage: $0 PROGRAM.exe VERSION OUTDIR" >&2
  exit 2
fi
program=$1
version=$2
out=$3

die() {
  echo "make.sh: $*" >&2
  exit 1
}

[ -f "$program" ] || die "no program at $program"
# Windows version blocks hold four numbers; the installer adds the fourth.
[[ $version =~ ^[0-9]+\.[0-9]+\.[0-9]+$ ]] || die "version must be X.Y.Z, not '$version'"
for tool in makensis zip x86_64-w64-mingw32-strip; do
  command -v "$tool" >/dev/null || die "$tool is missing: run scripts/setup.sh"
done

mkdir -p "$out"
out=$(cd "$out" && pwd)
work=$(mktemp -d "$out/.work.XXXXXX")
trap 'rm -rf "$work"' EXIT

zip_name="LumoraVoiceInput-$version-portable.zip"
setup_name="LumoraVoiceInput-$version-setup.exe"

# The build keeps its debug information for the developers; users get the
# program without it (a fraction of the size, the same code).
x86_64-w64-mingw32-strip --strip-all -o "$work/LumoraVoiceInput.exe" "$program"

# The read-me as Notepad on every Windows version shows it: UTF-8 with a byte
# order mark, CR LF line ends.
readme() {
  printf '\357\273\277'
  sed -e "s/@VERSION@/$version/g" -e 's/\r$//' -e 's/$/\r/' "$here/README-zh.txt"
}

# The zip holds one folder, so that unpacking it does not scatter files. Its
# names are ASCII: older Windows versions show other names in a zip garbled.
folder="$work/zip/LumoraVoiceInput"
mkdir -p "$folder"
cp "$work/LumoraVoiceInput.exe" "$folder/"
readme >"$folder/README.txt"
# -X: no Unix owners or permissions, which mean nothing on Windows.
(cd "$work/zip" && zip -q -X -9 -r "$work/$zip_name" LumoraVoiceInput)

# The installer shows the program's icon once the resources hold it.
icon=()
if [ -f "$here/../res/parlino.ico" ]; then
  icon=("-DICON_FILE=$(cd "$here/../res" && pwd)/parlino.ico")
fi

if ! makensis -NOCD -V2 -WX -INPUTCHARSET UTF8 "${icon[@]}" \
  "-DPRODUCT_VERSION=$version" \
  "-DPROGRAM_EXE=$work/LumoraVoiceInput.exe" \
  "-DOUT_FILE=$work/$setup_name" \
  "$here/installer.nsi" >"$work/makensis.log" 2>&1; then
  cat "$work/makensis.log" >&2
  die "makensis failed"
fi

# Moved into place only when both are complete, so that an artefact in OUTDIR
# is never half written.
mv -f "$work/$zip_name" "$out/$zip_name"
mv -f "$work/$setup_name" "$out/$setup_name"
