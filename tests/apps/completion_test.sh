#!/usr/bin/env bash
# pxctl's bash completion through bash's own machinery: the script is sourced,
# `complete` must name its function, and the function is called as bash calls
# it, with COMP_LINE and COMP_POINT, for a few partial command lines. A
# stand-in for `pxctl detect` lists the ports of a machine with hardware.
#   completion_test.sh COMPLETION_SCRIPT PXCTL_DIR
set -uo pipefail
script=$1
real=$2/pxctl
stub=$(mktemp -d)
trap 'rm -rf "$stub"' EXIT
cat >"$stub/pxctl" <<END
#!/bin/sh
if [ "\$1" = detect ]; then
    echo "ppdev:dev=/dev/parport0  parallel port at 0x378; usable"
    echo "i2c:bus=1                i2c-1 (CP2112 SMBus Bridge on hidraw0); usable"
    echo "ftdi:dev=s:0403:6014:FT6ZK2QW  FT232H on d:001/004; usable"
    echo "sim                      the simulated board; usable"
    exit 0
fi
exec "$real" "\$@"
END
chmod +x "$stub/pxctl"
PATH=$stub:$PATH
# shellcheck source=/dev/null
source "$script"
failed=0
complete -p pxctl | grep -q -- '-F _pxctl pxctl' || { echo "complete does not name _pxctl"; failed=1; }

# expect LINE WANT: the replies for LINE with the cursor at its end, sorted, one line.
expect() {
    COMP_LINE=$1
    COMP_POINT=${#COMP_LINE}
    COMP_WORDS=($COMP_LINE)
    COMP_CWORD=${#COMP_WORDS[@]}
    COMPREPLY=()
    _pxctl
    got=$(printf '%s\n' "${COMPREPLY[@]}" | sort | tr '\n' ' ' | sed 's/ $//')
    if [ "$got" = "$2" ]; then
        echo "ok: [$1] -> [$got]"
    else
        echo "FAIL: [$1] -> [$got], want [$2]"
        failed=1
    fi
}
expect "pxctl --po" "--port"
expect "pxctl --program " "a b"
expect "pxctl --port sim --idle" "--idle-timeout"
expect "pxctl --vxi11 o" "off"
expect "pxctl --port sim --clients " "1 2 4 8"
expect "pxctl --port si" "sim sim:"
# The keys a backend takes; delay= is not one of the simulated board's.
expect "pxctl --port sim:" "address= device= nack= state= stuck="
# bash's word here is what follows the last = : "none,st".
expect "pxctl --port sim:device=none,st" "none,state= none,stuck="
expect "pxctl --port i2c:b" "bus= bus=1"
# The backends' names come from pxctl --help: a build without ftdi offers none.
if "$real" --help | grep -q '^ *ftdi[:[]'; then
    expect "pxctl --port ft" "ftdi ftdi: ftdi:dev=s:0403:6014:FT6ZK2QW"
fi
expect "pxctl --port=pp" "ppdev ppdev: ppdev:dev=/dev/parport0"
# config: its keys, then what each takes.
expect "pxctl conf" "config"
expect "pxctl config " "address check-ack port"
expect "pxctl config check-ack " "no yes"
expect "pxctl --port sim config port si" "sim sim:"
expect "pxctl --port sim m" "mid"
expect "pxctl --port sim code" "code1= code2="
expect "pxctl --port sim s" "serve set shdn"
expect "pxctl detect --probe i2" "i2c i2c: i2c:bus=1"
expect "pxctl detect " ""
expect "pxctl detect --scan i2c:b" "bus= bus=1"
expect "pxctl --no" "--no-announce --no-check-ack"
# An action's channel, then a code; a code's and a bit's values.
expect "pxctl --port sim set " "1 2"
expect "pxctl --port sim set 2 " "0 128 255"
expect "pxctl --port sim set 2 1" "128"
expect "pxctl --port sim code1=" "0 128 255"
expect "pxctl --port sim bit:44" "44="
expect "pxctl --port sim bit:13=" "0 1"
# File names where a key takes a file: bash's word is what follows the last = .
files=$(mktemp -d)
touch "$files/board.state" "$files/bench.dll"
mkdir "$files/boards"
expect "pxctl --port sim:state=$files/bo" "$files/board.state $files/boards/"
expect "pxctl --port lib:path=$files/be" "$files/bench.dll"
expect "pxctl --port sim:device=none,state=$files/board." "$files/board.state"
rm -rf "$files"
exit $failed
