#!/usr/bin/env bash
# Builds the fuzz targets with clang and runs each for SECONDS (default 60).
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${SECONDS_PER_TARGET:-60}"
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j "$(nproc)"
for target in port_string_fuzz checker_fuzz scpi_fuzz vxi11_fuzz; do
  corpus="build/fuzz/corpus/$target"
  mkdir -p "$corpus"
  "build/fuzz/fuzz/$target" -max_total_time="$seconds" -print_final_stats=1 "$corpus" 2>&1 |
    grep -E 'stat::number_of_executed_units|ERROR|SUMMARY|Done' || true
  test "${PIPESTATUS[0]}" -eq 0
done
