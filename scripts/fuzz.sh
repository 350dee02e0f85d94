#!/usr/bin/env bash
# Runs every libFuzzer target from its seed corpus and prints the executed
# inputs per target.
#   scripts/fuzz.sh [SECONDS]   each target for SECONDS (default 60), in the
#                               asan tree (AddressSanitizer + UBSan)
#   scripts/fuzz.sh --runs N    each target until N inputs have run, in the
#                               optimised fuzz tree (UBSan only; ten times
#                               faster, for the long runs)
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"
if [ "${1:-}" = "--runs" ]; then
  preset=fuzz
  limit=(-runs="$2")
  label="$2 runs"
else
  preset=asan
  limit=(-max_total_time="${1:-60}")
  label="${1:-60} s"
fi
cmake --preset "$preset" >/dev/null
cmake --build --preset "$preset" -j "$(nproc)" >/dev/null

for fuzzer in build/"$preset"/tests/fuzz/fuzz_*; do
  [ -x "$fuzzer" ] || continue
  name=$(basename "$fuzzer")
  seeds="tests/fuzz/corpus/${name#fuzz_}"
  corpus="build/$preset/tests/fuzz/corpus/$name"
  mkdir -p "$corpus"
  log="build/logs/$name-$preset.log"
  mkdir -p build/logs
  started=$(date +%s)
  if "$fuzzer" "${limit[@]}" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
      "$corpus" "$seeds" >"$log" 2>&1; then
    verdict=ok
  else
    verdict=FAILED
  fi
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
  printf '%-16s %-14s %12s inputs in %6ss  corpus %5s files  %s\n' "$name" "$label" "${runs:-?}" \
    "$(( $(date +%s) - started ))" "$(find "$corpus" -type f | wc -l)" "$verdict"
done
