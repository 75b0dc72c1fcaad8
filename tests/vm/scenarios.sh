#!/bin/sh
# Runs inside the test VM, as root, on Debian's kernel with QEMU's parallel port
# at 0x378. Each scenario prints "VMTEST <name> PASS" or "VMTEST <name> FAIL",
# with a VMCHECK line and the difference for every check that failed.

# check NAME STATUS STDOUT STDERR COMMAND...: the command's exit status and
# exact output.
check() {
    name=$1 want_status=$2 want_out=$3 want_err=$4
    shift 4
    "$@" >/tmp/out 2>/tmp/err
    status=$?
    out=$(cat /tmp/out)
    err=$(cat /tmp/err)
    if [ "$status" = "$want_status" ] && [ "$out" = "$want_out" ] && [ "$err" = "$want_err" ]; then
        echo "VMCHECK $name ok: $*"
    else
        echo "VMCHECK $name FAIL: $*"
        echo "  status $status, want $want_status"
        echo "  stdout [$out], want [$want_out]"
        echo "  stderr [$err]"
        echo "  want   [$want_err]"
        eval "failed_$name=1"
    fi
}
verdict() {
    eval "f=\${failed_$1:-0}"
    if [ "$f" = 0 ]; then echo "VMTEST $1 PASS"; else echo "VMTEST $1 FAIL"; fi
}
as() { user=$1; shift; su -s /bin/sh "$user" -c "$*"; }
load() { for m in "$@"; do insmod "/modules/$m.ko" || echo "VMCHECK load FAIL: insmod $m"; done; }

HELD="(another program or the lp driver holds the port)"
pp=ppdev:dev=/dev/parport0

# 3. No modules: no /dev/parport0, and the hint says which modules to load.
check no_modules 1 "" "pxctl: set 1 200: not sent: ppdev /dev/parport0: open: No such file or directory (load the parport_pc and ppdev modules) (action 1; 0 ran before it)" \
    pxctl --port $pp set 1 200
verdict no_modules

load parport parport_pc ppdev

# 1. ppdev: every action succeeds, QEMU's status register reads SDA high (255),
# and the writes equal those on the simulated board, access by access.
check ppdev 0 "255" "" pxctl --port $pp --trace /tmp/hw.log set 1 200 read full mid zero shdn
check ppdev 0 "200" "" pxctl --port sim --trace /tmp/sim.log set 1 200 read full mid zero shdn
grep '^out' /tmp/hw.log >/tmp/hw.out
grep '^out' /tmp/sim.log >/tmp/sim.out
check ppdev 0 "" "" cmp /tmp/hw.out /tmp/sim.out
check ppdev 0 "$(wc -l </tmp/sim.out)" "" sh -c "wc -l </tmp/hw.out"
check ppdev 0 "255
255" "" pxctl --program a --port $pp set 2 200 get
verdict ppdev

# 2. Exclusive access: a second opener is refused while a session holds the
# port through a pipe, and so is anyone while lp has it.
( echo "set 1 1"; sleep 6; echo "get" ) | pxctl --json --port $pp - >/tmp/holder.out 2>&1 &
# The holder has the port once it has printed its first action.
tries=0
while [ ! -s /tmp/holder.out ] && [ $tries -lt 30 ]; do sleep 1; tries=$((tries + 1)); done
check exclusive 1 "" "pxctl: set 1 5: not sent: ppdev /dev/parport0: PPCLAIM: No such device or address $HELD (action 1; 0 ran before it)" \
    pxctl --port $pp set 1 5
wait
check exclusive 0 "" "" grep -q '"action":"get","read":255,' /tmp/holder.out
load lp
check exclusive 1 "" "pxctl: set 1 5: not sent: ppdev /dev/parport0: PPCLAIM: No such device or address $HELD (action 1; 0 ran before it)" \
    pxctl --port $pp set 1 5
rmmod lp
check exclusive 0 "" "" pxctl --port $pp set 1 5
verdict exclusive

# 4. The device as udev leaves it (root:lp 0660): a user outside lp is told to
# join it; a user in lp works.
chgrp lp /dev/parport0
chmod 660 /dev/parport0
check lp_group 1 "" "pxctl: set 1 5: not sent: ppdev /dev/parport0: open: Permission denied (add your user to the lp group) (action 1; 0 ran before it)" \
    as outsider pxctl --port $pp set 1 5
check lp_group 0 "" "" as operator pxctl --port $pp set 1 5
verdict lp_group

# 5. Direct port I/O: root reads QEMU's port; anyone else is told what it takes.
check io 0 "255" "" pxctl --port io get
check io 1 "" "pxctl: get: not sent: io 0x378: ioperm: Operation not permitted (run as root, or grant CAP_SYS_RAWIO) (action 1; 0 ran before it)" \
    as outsider pxctl --port io get
verdict io

# 6. i2c: the frames reach an SMBus-only adapter (i2c-stub) for both programs;
# with no chip at 0x2c the address that did not answer is named.
load i2c-dev
insmod /modules/i2c-stub.ko chip_addr=0x2c
check i2c 0 "" "" pxctl --port i2c:dev=/dev/i2c-0 set 2 200
check i2c 0 "0xc8" "" i2cget -y 0 0x2c 0x80 b
check i2c 0 "" "" i2cset -y 0 0x2c 0x80 0x00
check i2c 0 "0" "" pxctl --program a --port i2c:bus=0 set 2 200
check i2c 0 "0xc8" "" i2cget -y 0 0x2c 0x80 b
rmmod i2c-stub
insmod /modules/i2c-stub.ko chip_addr=0x50
check i2c 1 "" "pxctl: set 2 200: not sent: i2c /dev/i2c-0: no device answered at 0x2c (action 1; 0 ran before it)" \
    pxctl --port i2c:dev=/dev/i2c-0 set 2 200
verdict i2c
