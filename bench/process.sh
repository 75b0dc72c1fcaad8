#!/usr/bin/env bash
# Whole-process figures of both programs on the simulated board, offscreen:
# start-up to the window drawn, and peak memory. Median of RUNS runs (default 15).
set -euo pipefail
cd "$(dirname "$0")/.."
build="${BUILD:-build/release}"
runs="${RUNS:-15}"
export QT_QPA_PLATFORM="${QT_QPA_PLATFORM:-offscreen}"
median() { sort -n | awk '{a[NR]=$1} END {print (NR % 2) ? a[(NR+1)/2] : (a[NR/2] + a[NR/2+1]) / 2}'; }
for program in px7700_02_reva px7702_reva; do
  binary="$build/apps/$program"
  "$binary" --port sim --exit-when-shown  # warm the file cache once
  times=(); peaks=()
  for _ in $(seq "$runs"); do
    start=$(date +%s%N)
    peak=$(/usr/bin/time -f "%M" "$binary" --port sim --exit-when-shown 2>&1 >/dev/null | tail -n 1)
    end=$(date +%s%N)
    times+=("$(( (end - start) / 1000000 ))")
    peaks+=("$(awk '{printf "%.1f", $1 / 1024}' <<<"$peak")")
  done
  printf '%-16s start-up to window drawn: %s ms   peak memory: %s MB   (median of %s)\n' "$program" \
    "$(printf '%s\n' "${times[@]}" | median)" "$(printf '%s\n' "${peaks[@]}" | median)" "$runs"
done
