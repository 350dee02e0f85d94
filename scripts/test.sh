#!/usr/bin/env bash
# Runs every test: installs what is missing, builds the four trees (linux:
# the Linux program with the benchmarks; AddressSanitizer+UBSan with the
# fuzzers; ThreadSanitizer; Windows) and runs all their tests in one ctest
# run, the Windows ones under Wine.
# Extra arguments go to ctest, e.g. scripts/test.sh -R protocol
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"

"$root/scripts/setup.sh"

trees=(linux asan tsan windows)
mkdir -p build/logs
for tree in "${trees[@]}"; do
  echo "== building $tree"
  if ! cmake --preset "$tree" >"build/logs/configure-$tree.log" 2>&1; then
    tail -n 40 "build/logs/configure-$tree.log"
    exit 1
  fi
  if ! cmake --build --preset "$tree" -j "$(nproc)" >"build/logs/build-$tree.log" 2>&1; then
    grep -E 'error|FAILED' "build/logs/build-$tree.log" | head -n 40
    tail -n 20 "build/logs/build-$tree.log"
    exit 1
  fi
done

# One ctest run over all trees, so that one summary counts every test.
{
  echo "# Runs the tests of every tree; written by scripts/test.sh"
  printf 'subdirs('
  printf '"%s" ' "${trees[@]}"
  printf ')\n'
} >build/CTestTestfile.cmake

# The Windows tests start their two Wine benches on first use, and the
# installer's round trip and the bench script's test one each of their own;
# stop them whatever happens (a test killed at its timeout cannot), so that no
# wineserver or Xvfb outlives the run.
stop_benches() {
  local state
  for state in "$root"/build/windows/{wine,wine-2,wine-packaging,wine-bench-test}; do
    "$root/scripts/wine-bench.sh" stop "$state" >/dev/null 2>&1 || true
  done
}
trap stop_benches EXIT

cd build
ctest -j "$(nproc)" --output-on-failure --timeout 300 "$@"
