#!/usr/bin/env bash
# Builds the Windows program and makes what a user downloads, in build/dist:
#   LumoraVoiceInput-VERSION-portable.zip   the program and a Chinese read-me
#   LumoraVoiceInput-VERSION-setup.exe      the per-user installer (NSIS)
# VERSION is the project's version (CMakeLists.txt). packaging/make.sh does
# the packing; the packaging tests use the same script.
#
# --linux: builds the Linux program with the linux preset instead and puts
#   lumora-voice-input_VERSION_ARCH.deb     the program, its menu entry, icons
# into build/dist, through the target parlino_deb (packaging/linux/), which
# the packaging test uses too. The Windows files there are left alone.
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"

linux=0
case "${1-}" in
  "") ;;
  --linux) linux=1 ;;
  *)
    echo "usage: $0 [--linux]" >&2
    exit 2
    ;;
esac

"$root/scripts/setup.sh"

mkdir -p build/logs
if [ "$linux" -eq 1 ]; then
  if ! cmake --preset linux >build/logs/configure-linux.log 2>&1; then
    tail -n 40 build/logs/configure-linux.log
    exit 1
  fi
  echo "== building lumora-voice-input and its .deb"
  if ! cmake --build --preset linux --target parlino_deb -j "$(nproc)" >build/logs/build-package-linux.log 2>&1; then
    grep -E 'error|FAILED|CPack Error' build/logs/build-package-linux.log | head -n 40
    tail -n 20 build/logs/build-package-linux.log
    exit 1
  fi
  version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' build/linux/CMakeCache.txt)
  name="lumora-voice-input_${version}_$(dpkg --print-architecture).deb"
  dist=build/dist
  mkdir -p "$dist"
  # Only this version's package, beside whatever Windows files are there.
  rm -f "$dist"/lumora-voice-input_*.deb "$dist"/lumora-voice-input_*.deb.part
  cp "build/linux/packaging/linux/dist/$name" "$dist/$name.part"
  mv -f "$dist/$name.part" "$dist/$name"
  echo "== artefact"
  bytes=$(stat -c %s "$dist/$name")
  printf '%s  %s bytes (%s)\n' "$root/$dist/$name" "$bytes" "$(numfmt --to=iec-i --suffix=B "$bytes")"
  exit 0
fi

if ! cmake --preset windows >build/logs/configure-windows.log 2>&1; then
  tail -n 40 build/logs/configure-windows.log
  exit 1
fi
echo "== building LumoraVoiceInput.exe"
if ! cmake --build --preset windows --target LumoraVoiceInput -j "$(nproc)" >build/logs/build-package.log 2>&1; then
  grep -E 'error|FAILED' build/logs/build-package.log | head -n 40
  tail -n 20 build/logs/build-package.log
  exit 1
fi

version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' build/windows/CMakeCache.txt)
program=build/windows/app/LumoraVoiceInput.exe
dist=build/dist

echo "== packaging version $version"
# Only this version's artefacts, so that the folder can be uploaded as it is.
rm -rf "$dist"
"$root/packaging/make.sh" "$program" "$version" "$dist"

echo "== artefacts"
for file in "$dist/LumoraVoiceInput-$version-portable.zip" "$dist/LumoraVoiceInput-$version-setup.exe"; do
  bytes=$(stat -c %s "$file")
  printf '%s  %s bytes (%s)\n' "$root/$file" "$bytes" "$(numfmt --to=iec-i --suffix=B "$bytes")"
done
