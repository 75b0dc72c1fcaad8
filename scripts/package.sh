#!/usr/bin/env bash
# Builds the Debian package, installs it on this machine, runs the installed
# programs and checks the package with lintian (no errors, no warnings).
set -euo pipefail
cd "$(dirname "$0")/.."
SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
cmake --preset release >/dev/null
cmake --build --preset release -j "$(nproc)"
cmake --build --preset release --target package
deb="$(ls build/release/px77xx_*_*.deb)"
dpkg-deb -c "$deb"
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y --reinstall "./$deb"
version="$(/usr/bin/px7702_reva --version)"
echo "$version"
test "$version" = "px7702_reva $(dpkg-query -W -f='${Version}' px77xx)"
/usr/bin/pxctl --version
/usr/bin/pxctl --port sim set 1 5 get
lintian --fail-on error,warning "$deb"
echo "package: $deb installed and checked"
