#!/usr/bin/env bash
# Redraws docs/px7700_02_reva_windows.png and docs/px7702_reva_windows.png: the
# client areas of the Win32 windows on the simulated board under wine (without
# a window manager the X window is the client area, as in the Qt screenshots
# beside them), after a few keys: End on the channel 1 code bar, Tab, End on
# the channel 2 code bar, Alt+R. Needs the windows preset, Xvfb, xdotool and
# imagemagick.
set -euo pipefail
cd "$(dirname "$0")/.."
cmake --preset windows >/dev/null
cmake --build --preset windows --target px7700_02_reva px7702_reva
build=$PWD/build/windows
export WINEPREFIX=$build/wineprefix WINEDEBUG=-all WINEDLLOVERRIDES=mscoree,mshtml,winemenubuilder.exe=
xvfb-run -a -s "-screen 0 1024x768x24 -dpi 96" bash -c '
  set -e
  for program in px7700_02_reva:PX7700_02_RevA px7702_reva:PX7702_RevA; do
    exe=${program%%:*} caption=${program#*:}
    wine "$1/apps/$exe.exe" --port sim >/dev/null 2>&1 &
    win=
    for _ in $(seq 300); do
      win=$(xdotool search --onlyvisible --name "^$caption" | head -1) && [ -n "$win" ] && break
      sleep 0.1
    done
    sleep 1
    xdotool windowfocus "$win"
    for key in End Tab End alt+r; do xdotool key "$key"; sleep 0.3; done
    sleep 1
    import -window "$win" "docs/${exe}_windows.png"
    echo "wrote docs/${exe}_windows.png"
    xdotool key alt+x
    wait
  done
' _ "$build"
