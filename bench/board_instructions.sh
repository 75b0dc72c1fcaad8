#!/usr/bin/env bash
# Instructions per port access of the simulated board, counted by callgrind on
# bench/board_loop.cpp: board_instructions.sh [BUILD_DIR] (default build/bench).
set -euo pipefail
build="${1:-build/bench}"
loop="$build/bench/board_loop"
[ -x "$loop" ] || { echo "build $loop first (cmake --preset bench && cmake --build --preset bench --target board_loop)" >&2; exit 2; }
accesses=$("$loop" | awk '{print $1}')
total=$(valgrind --tool=callgrind --callgrind-out-file=/dev/null "$loop" 2>&1 | awk '/refs:/ {gsub(",", "", $4); print $4}')
awk -v t="$total" -v a="$accesses" 'BEGIN { printf "%s instructions for %s accesses: %.1f per access\n", t, a, t / a }'
