#!/usr/bin/env bash
# Redraws docs/px7702_reva_port_error.png: program B on a parallel port that is
# not there, after one click on a code arrow, under Xvfb with a window manager
# (openbox) so that the title shows. Needs openbox, xdotool and imagemagick.
set -euo pipefail
cd "$(dirname "$0")/.."
cmake --preset release >/dev/null
cmake --build --preset release --target px7702_reva
out="$PWD/docs/px7702_reva_port_error.png"
xvfb-run -a -s "-screen 0 1024x768x24" bash -c '
  openbox >/dev/null 2>&1 &
  sleep 1
  QT_QPA_PLATFORM=xcb build/release/apps/px7702_reva --port ppdev:dev=/dev/parport-not-there 2>/dev/null &
  sleep 2
  wid=$(xdotool search --onlyvisible --name "PX7702_RevA" | head -1)
  # The lower arrow of vsbInputCode1: 240 twips from the left, bottom at 2535 twips, 15 twips a pixel.
  xdotool mousemove --window "$wid" 32 161 mousedown 1 sleep 1 mouseup 1
  sleep 1
  import -window root -crop 760x560+132+100 +repage "$1"
  kill %2 %1
' _ "$out"
echo "wrote $out"
