#!/usr/bin/env bash
# Redraws docs/px7702_reva_keyboard.png: program B on the simulated board driven
# from the keyboard alone (twenty Page Downs on the channel 1 code bar, which
# has the focus when the window opens), under Xvfb with a window manager
# (openbox) so that the title shows. Needs openbox, xdotool and imagemagick.
set -euo pipefail
cd "$(dirname "$0")/.."
cmake --preset release >/dev/null
cmake --build --preset release --target px7702_reva
out="${1:-$PWD/docs/px7702_reva_keyboard.png}"
xvfb-run -a -s "-screen 0 1024x768x24" bash -c '
  openbox >/dev/null 2>&1 &
  sleep 1
  QT_QPA_PLATFORM=xcb build/release/apps/px7702_reva --port sim 2>/dev/null &
  sleep 2
  wid=$(xdotool search --onlyvisible --name "PX7702_RevA" | head -1)
  xdotool windowactivate --sync "$wid"
  for i in $(seq 20); do xdotool key --window "$wid" Next; done
  sleep 1
  import -window root -crop 760x560+132+100 +repage "$1"
  kill %2 %1
' _ "$out"
echo "wrote $out"
