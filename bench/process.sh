#!/usr/bin/env bash
# Whole-process figures on the simulated board: both windows (offscreen) from
# start to drawn, and pxctl setting one wiper from start to exit; peak memory of
# each. Median of RUNS runs (default 15).
set -euo pipefail
cd "$(dirname "$0")/.."
build="${BUILD:-build/bench}"
runs="${RUNS:-15}"
export QT_QPA_PLATFORM="${QT_QPA_PLATFORM:-offscreen}"
median() { sort -n | awk '{a[NR]=$1} END {print (NR % 2) ? a[(NR+1)/2] : (a[NR/2] + a[NR/2+1]) / 2}'; }
measure() {
  local label="$1"; shift
  "$@" >/dev/null  # warm the file cache once
  times=(); peaks=()
  for _ in $(seq "$runs"); do
    start=$(date +%s%N)
    peak=$(/usr/bin/time -f "%M" "$@" 2>&1 >/dev/null | tail -n 1)
    end=$(date +%s%N)
    times+=("$(( (end - start) / 1000000 ))")
    peaks+=("$(awk '{printf "%.1f", $1 / 1024}' <<<"$peak")")
  done
  printf '%-28s %s ms   peak memory: %s MB   (median of %s)\n' "$label" \
    "$(printf '%s\n' "${times[@]}" | median)" "$(printf '%s\n' "${peaks[@]}" | median)" "$runs"
}
for program in px7700_02_reva px7702_reva; do
  measure "$program start to drawn:" "$build/apps/$program" --port sim --exit-when-shown
done
measure "pxctl set 1 200, start to exit:" "$build/apps/pxctl" --port sim set 1 200
