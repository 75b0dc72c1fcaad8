#!/usr/bin/env bash
# Builds the two Debian packages by running the README's Installing commands as
# written (leaving out sudo as root, as the README says), then installs each
# package alone and runs what it holds, and checks both with lintian (no
# errors, no warnings).
set -euo pipefail
cd "$(dirname "$0")/.."
SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
export DEBIAN_FRONTEND=noninteractive
fail() { echo "package: $*" >&2; exit 1; }

# The README's Installing commands, one shell line each.
commands="$(sed -n '/^## Installing$/,/^## /p' README.md | sed -n 's/^    //p')"
[ -n "$commands" ] || fail "no commands under Installing in README.md"
while IFS= read -r line; do
  [ -z "$SUDO" ] && line="${line#sudo }"
  echo "+ $line"
  bash -euo pipefail -c "$line"
done <<<"$commands"

cli="$(ls build/release/px77xx-cli_*_amd64.deb)"
gui="$(ls build/release/px77xx_*_amd64.deb)"
version="$(dpkg-deb -f "$cli" Version)"
if dpkg-deb -f "$cli" Depends | grep -qi qt; then fail "$cli depends on Qt: $(dpkg-deb -f "$cli" Depends)"; fi
dpkg-deb -I "$cli"

purge() { $SUDO apt-get purge -y px77xx px77xx-cli >/dev/null 2>&1 || true; }

# Each alone: what it holds runs, and the other's programs are not there.
purge
$SUDO apt-get install -y "./$cli"
test "$(pxctl --version)" = "pxctl $version"
test "$(pxctl --port sim set 1 5 get)" = 5
test "$(printf 'set 2 9 # a comment\nget\n' | pxctl --port sim -)" = 9
dpkg -L px77xx-cli | grep -qx /usr/share/man/man1/pxctl.1.gz
[ ! -e /usr/bin/px7702_reva ] || fail "px77xx-cli installed a window"

purge
$SUDO apt-get install -y "./$gui"
for window in px7700_02_reva px7702_reva; do
  test "$("/usr/bin/$window" --version)" = "$window $version"
  QT_QPA_PLATFORM=offscreen "/usr/bin/$window" --port sim --exit-when-shown
  dpkg -L px77xx | grep -qx "/usr/share/man/man1/$window.1.gz"
done
[ ! -e /usr/bin/pxctl ] || fail "px77xx installed pxctl"

# Both, as the README installs them.
$SUDO apt-get install -y "./$cli" "./$gui"
lintian --fail-on error,warning "$cli" "$gui"
echo "package: $cli and $gui installed alone and together, and checked"
