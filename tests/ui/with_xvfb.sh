#!/usr/bin/env bash
# Runs a command under an Xvfb of its own: with_xvfb.sh COMMAND [ARG...].
# Xvfb picks a free display itself and names it once it accepts connections
# (-displayfd), so tests running side by side never race for a display number
# nor connect too early, as they can with xvfb-run -a. -noreset: by default
# the server resets when its last client leaves (at-spi-bus-launcher leaves
# early) and refuses whoever connects meanwhile. The server is gone before this
# script returns.
set -euo pipefail
dir="$(mktemp -d)"
pid=""
cleanup() {
  if [ -n "$pid" ]; then kill "$pid" 2>/dev/null || true; wait "$pid" 2>/dev/null || true; fi
  rm -rf "$dir"
}
trap cleanup EXIT
mkfifo "$dir/display"
Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp -noreset 3>"$dir/display" 2>"$dir/log" &
pid=$!
if ! read -r number <"$dir/display"; then
  echo "with_xvfb.sh: Xvfb did not start:" >&2
  cat "$dir/log" >&2
  exit 1
fi
status=0
DISPLAY=":$number" "$@" || status=$?
exit "$status"
