#!/usr/bin/env bash
# Builds the Windows program and makes what a user downloads, in build/dist:
#   LumoraVoiceInput-VERSION-portable.zip   the program and a Chinese read-me
#   LumoraVoiceInput-VERSION-setup.exe      the per-user installer (NSIS)
# VERSION is the project's version (CMakeLists.txt). packaging/make.sh does
# the packing; the packaging tests use the same script.
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"

"$root/scripts/setup.sh"

mkdir -p build/logs
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
