#!/usr/bin/env bash
# Redraws docs/*.png: both windows on the simulated board after a few operator
# actions, in a real X server (Xvfb).
set -euo pipefail
cd "$(dirname "$0")/.."
cmake --preset release >/dev/null
cmake --build --preset release --target screenshots
xvfb-run -a -s "-screen 0 1280x1024x24" env QT_QPA_PLATFORM=xcb build/release/tools/screenshots docs
