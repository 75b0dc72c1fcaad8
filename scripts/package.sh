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
python="$(ls build/release/python3-px77xx_*_amd64.deb)"
version="$(dpkg-deb -f "$cli" Version)"
if dpkg-deb -f "$cli" Depends | grep -qi qt; then fail "$cli depends on Qt: $(dpkg-deb -f "$cli" Depends)"; fi
dpkg-deb -I "$cli"

# Only what is installed: apt refuses the whole line for a package it has never seen.
purge() {
  for package in px77xx px77xx-cli python3-px77xx; do
    if dpkg -s "$package" >/dev/null 2>&1; then $SUDO apt-get purge -y "$package" >/dev/null; fi
  done
}

# Each alone: what it holds runs, and the other's programs are not there.
purge
$SUDO apt-get install -y "./$cli"
test "$(pxctl --version)" = "pxctl $version"
test "$(pxctl --port sim set 1 5 get)" = 5
test "$(printf 'set 2 9 # a comment\nget\n' | pxctl --port sim -)" = 9
dpkg -L px77xx-cli | grep -qx /usr/share/man/man1/pxctl.1.gz
/usr/bin/python3 -c 'import json, sys; json.load(open(sys.argv[1]))' /usr/share/px77xx-cli/pxctl-json.schema.json
# The SCPI service is installed, not enabled; its settings are a conffile.
test -f /lib/systemd/system/px77xx-scpi.service
# bash completes pxctl once its completion is sourced as bash-completion would.
test "$(bash -c 'source /usr/share/bash-completion/completions/pxctl; COMP_LINE="pxctl --port si"; COMP_POINT=${#COMP_LINE}; _pxctl; echo "${COMPREPLY[*]}"')" = "sim sim:"
# The udev rule for FTDI chips, where udev reads it, ahead of logind's seat
# rules (73-seat-late) that turn the uaccess tag into an ACL.
grep -q 'ATTR{idProduct}=="6010|6011|6014", TAG+="uaccess"' /lib/udev/rules.d/60-px77xx-ftdi.rules
grep -q 'KERNELS=="0003:04D8:00DD.\*", TAG+="uaccess"' /lib/udev/rules.d/60-px77xx-hid.rules
[ ! -e /etc/systemd/system/multi-user.target.wants/px77xx-scpi.service ] || fail "px77xx-scpi enabled at install"
dpkg-query --showformat='${Conffiles}' --show px77xx-cli | grep -q /etc/default/px77xx-scpi
( . /etc/default/px77xx-scpi && test "$PX77XX_LISTEN" = 127.0.0.1:5025 )
# The unit runs as a user of its own in a sandbox: exposure 3.0 or less.
systemd-analyze security --offline=true --threshold=30 /lib/systemd/system/px77xx-scpi.service >/dev/null ||
  fail "px77xx-scpi.service is rated above 3.0 by systemd-analyze security"
# Its command line with the default file's settings, on the simulated board.
served_err="$(mktemp)"
( . /etc/default/px77xx-scpi && exec pxctl --program "$PX77XX_PROGRAM" --port sim:address="$PX77XX_ADDRESS" \
    --address "$PX77XX_ADDRESS" serve --listen 127.0.0.1:0 --vxi11 "$PX77XX_VXI11" --clients "$PX77XX_CLIENTS" \
    --idle-timeout "$PX77XX_IDLE_TIMEOUT" $PX77XX_SERVE_OPTIONS ) 2>"$served_err" &
server=$!
for _ in $(seq 50); do grep -q listening "$served_err" && break; sleep 0.1; done
served="$(sed -n 's/.*listening on 127.0.0.1:\([0-9]*\);.*/\1/p' "$served_err")"
test "$(/usr/bin/python3 -c 'import socket, sys
s = socket.create_connection(("127.0.0.1", int(sys.argv[1])))
s.sendall(b"WIP1 77;READ?\n")
print(s.makefile().readline().strip())' "$served")" = 77
kill "$server" && wait "$server"
[ ! -e /usr/bin/px7702_reva ] || fail "px77xx-cli installed a window"

purge
$SUDO apt-get install -y "./$gui"
for window in px7700_02_reva px7702_reva; do
  test "$("/usr/bin/$window" --version)" = "$window $version"
  QT_QPA_PLATFORM=offscreen "/usr/bin/$window" --port sim --exit-when-shown
  dpkg -L px77xx | grep -qx "/usr/share/man/man1/$window.1.gz"
done
[ ! -e /usr/bin/pxctl ] || fail "px77xx installed pxctl"

purge
$SUDO apt-get install -y "./$python"
test "$(cd / && /usr/bin/python3 -c 'import px77xx
with px77xx.open(port="sim") as pot:
    pot.set(2, 200)
    print(pot.read())')" = 200
[ ! -e /usr/bin/pxctl ] || fail "python3-px77xx installed pxctl"

# All, as the README installs them.
$SUDO apt-get install -y "./$cli" "./$gui" "./$python"
lintian --fail-on error,warning "$cli" "$gui" "$python"
echo "package: $cli, $gui and $python installed alone and together, and checked"
