#!/usr/bin/env bash
# Builds and opens one program on the simulated board: PROGRAM=px7700_02_reva for
# program A (default px7702_reva). Extra arguments go to the program.
set -euo pipefail
cd "$(dirname "$0")/.."
program="${PROGRAM:-px7702_reva}"
cmake --preset release >/dev/null
cmake --build --preset release --target "$program"
exec "build/release/apps/$program" --port sim "$@"
