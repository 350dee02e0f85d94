#!/usr/bin/env bash
# Installs what building and testing need on a Debian 12 machine, and fetches
# cJSON's Debian source for the Windows build. Safe to run again: it only
# installs what is missing.
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
deps="$root/.deps"

packages=(
  cmake ninja-build pkg-config dpkg-dev
  g++ g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64
  wine wine64 xvfb x11-apps imagemagick fonts-wqy-zenhei fonts-liberation
  libcjson-dev libtomlplusplus-dev googletest libgtest-dev libgmock-dev libbenchmark-dev
  clang libclang-rt-14-dev
  nsis zip unzip desktop-file-utils
  libxtst-dev libxres-dev x11-xkb-utils
  qt6-base-dev dbus
)

as_root() {
  if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi
}

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}\n' "$p" 2>/dev/null | grep -q '^install ok installed'; then
    missing+=("$p")
  fi
done

updated=0
apt_update() {
  if [ "$updated" -eq 0 ]; then
    as_root apt-get update -qq
    updated=1
  fi
}

if [ "${#missing[@]}" -gt 0 ]; then
  echo "setup: installing ${missing[*]}"
  apt_update
  as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends \
    "${missing[@]}" >/dev/null
fi

# cJSON for Windows: Debian ships only the Linux library, so the Windows build
# compiles the Debian source package (same version, same security patches).
# The folder appears whole or not at all: it is made beside its place and
# renamed into it once complete, so a run cut short leaves nothing that a
# later run would take for done.
cjson_complete() {
  [ -s "$1/cjson/cJSON.c" ] && [ -s "$1/cjson/cJSON.h" ] && [ -s "$1/VERSION" ]
}
if ! cjson_complete "$deps/cjson"; then
  rm -rf "$deps/cjson"
  if ! grep -rqsE '^(Types:.*deb-src|deb-src )' /etc/apt/sources.list /etc/apt/sources.list.d/; then
    echo "setup: adding deb-src entries for the machine's Debian sources"
    if [ -f /etc/apt/sources.list.d/debian.sources ]; then
      sed -E 's/^Types:.*/Types: deb-src/' /etc/apt/sources.list.d/debian.sources |
        as_root tee /etc/apt/sources.list.d/parlino-deb-src.sources >/dev/null
    fi
    if [ -f /etc/apt/sources.list ]; then
      sed -nE 's/^deb (.*)/deb-src \1/p' /etc/apt/sources.list |
        as_root tee /etc/apt/sources.list.d/parlino-deb-src.list >/dev/null
    fi
    updated=0
  fi
  apt_update
  mkdir -p "$deps"
  tmp=$(mktemp -d)
  partial=$(mktemp -d "$deps/cjson.partial.XXXXXX")
  trap 'rm -rf "$tmp" "$partial"' EXIT
  if ! (cd "$tmp" && apt-get source -qq cjson) >"$tmp/fetch.log" 2>&1; then
    cat "$tmp/fetch.log" >&2
    echo "setup: fetching cJSON's source package failed (apt-get source cjson, output above)" >&2
    exit 1
  fi
  src=$(find "$tmp" -maxdepth 1 -type d -name 'cjson-*' | head -n 1)
  if [ -z "$src" ] || [ ! -f "$src/cJSON.c" ] || [ ! -f "$src/cJSON.h" ]; then
    cat "$tmp/fetch.log" >&2
    echo "setup: cJSON's source package holds no cJSON.c and cJSON.h" >&2
    exit 1
  fi
  # Laid out as <cjson/cJSON.h>, the include path of Debian's native package.
  mkdir -p "$partial/cjson"
  cp "$src/cJSON.c" "$src/cJSON.h" "$partial/cjson/"
  basename "$src" >"$partial/VERSION"
  cjson_complete "$partial" || {
    echo "setup: copying cJSON's source into $partial failed" >&2
    exit 1
  }
  chmod 755 "$partial"  # mktemp made it for its owner only
  mv -T "$partial" "$deps/cjson"
  rm -rf "$tmp"
  trap - EXIT
  echo "setup: cJSON source $(cat "$deps/cjson/VERSION")"
fi
