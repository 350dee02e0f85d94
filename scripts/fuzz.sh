#!/usr/bin/env bash
# Runs every libFuzzer target of the asan tree for SECONDS each (default 60)
# from its seed corpus and prints the executed inputs per target.
#   scripts/fuzz.sh [SECONDS]
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
seconds=${1:-60}
cd "$root"
cmake --preset asan >/dev/null
cmake --build --preset asan -j "$(nproc)" >/dev/null

for fuzzer in build/asan/tests/fuzz/fuzz_*; do
  [ -x "$fuzzer" ] || continue
  name=$(basename "$fuzzer")
  seeds="tests/fuzz/corpus/${name#fuzz_}"
  corpus="build/asan/tests/fuzz/corpus/$name"
  mkdir -p "$corpus"
  log="build/logs/$name.log"
  mkdir -p build/logs
  if "$fuzzer" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
      "$corpus" "$seeds" >"$log" 2>&1; then
    verdict=ok
  else
    verdict=FAILED
  fi
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
  printf '%-16s %4ss %12s inputs  corpus %5s files  %s\n' "$name" "$seconds" "${runs:-?}" \
    "$(find "$corpus" -type f | wc -l)" "$verdict"
done
