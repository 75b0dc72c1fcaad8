#!/bin/sh
# Runs inside the test VM, as root, on Debian's kernel with QEMU's parallel port
# at 0x378. Each scenario prints "VMTEST <name> PASS" or "VMTEST <name> FAIL",
# with a VMCHECK line and the difference for every check that failed.

. /checks.sh

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
wait $!
check exclusive 0 "" "" grep -q '"action":"get","ok":true,"read":255,' /tmp/holder.out
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
check lp_group 1 "" "pxctl: set 1 5: not sent: ppdev /dev/parport0: open: Permission denied (add your user to the lp group, then log in again) (action 1; 0 ran before it)" \
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
# Nothing opens a bus nobody named; the adapters found are listed instead.
check i2c 2 "" "pxctl: i2c: name the adapter with bus=N or dev=/dev/i2c-N (as i2cdetect -l lists them); adapters here: i2c-0 (SMBus stub driver)" \
    pxctl --port i2c get
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
rmmod i2c-stub

# The number of the I2C adapter whose name starts with $1, once it is there.
adapter_number() {
    tries=0
    while [ $tries -lt 100 ]; do
        for name in /sys/class/i2c-adapter/i2c-*/name; do
            case "$(cat "$name" 2>/dev/null)" in
                "$1"*) n=${name%/name}; echo "${n##*/i2c-}"; return 0 ;;
            esac
        done
        sleep 0.1
        tries=$((tries + 1))
    done
    return 1
}

# An adapter driven by its real kernel driver, for both programs: code entry on
# each channel, the presets (which write twice), Read, program A's read-back
# after every write, i2ctransfer reading back what pxctl wrote, a frame to an
# address nobody answers, and the adapter's name and path in the JSON and the
# decoded trace. adapter_scenario SCENARIO BUS
adapter_scenario() {
    s=$1 n=$2
    port=i2c:bus=$n
    adapter_name=$(cat /sys/class/i2c-adapter/i2c-$n/name)
    check $s 0 "200" "" pxctl --port $port set 1 77 set 2 200 read
    check $s 0 "0x4d" "" i2ctransfer -y $n w1@0x2c 0x00 r1@0x2c
    check $s 0 "0xc8" "" i2ctransfer -y $n w1@0x2c 0x80 r1@0x2c
    check $s 0 "" "" pxctl --port $port ch1 code1=5 mid
    check $s 0 "0x80" "" i2ctransfer -y $n w1@0x2c 0x00 r1@0x2c
    check $s 0 "128" "" pxctl --port $port get
    check $s 0 "128" "" pxctl --port $port --check-ack get
    check $s 0 "77" "" pxctl --program a --port $port set 1 77
    check $s 0 "0x4d" "" i2ctransfer -y $n w1@0x2c 0x00 r1@0x2c
    check $s 0 "128
200" "" pxctl --program a --port $port mid set 2 200
    check $s 0 "0x80" "" i2ctransfer -y $n w1@0x2c 0x00 r1@0x2c
    check $s 0 "255" "" pxctl --program a --port $port ch2 full
    check $s 0 "0xff" "" i2ctransfer -y $n w1@0x2c 0x80 r1@0x2c
    check $s 1 "" "pxctl: run: not sent: i2c /dev/i2c-$n: no device answered at 0x2d (action 5; 4 ran before it)" \
        pxctl --port $port bit:25=1 bit:23=1 bit:22=1 bit:20=1 run
    check $s 0 "{\"index\":1,\"action\":\"get\",\"ok\":true,\"read\":255,\"frame_word\":0,\"displays\":{\"code1\":null,\"code2\":null,\"channel_written\":null,\"channel_read\":null,\"data_written\":0,\"byte_read\":255},\"adapter\":\"$adapter_name\",\"transfers\":\"plain I2C\"}" "" \
        pxctl --port $port --json get
    pxctl --port $port --trace /tmp/$s.txt set 1 9 >/dev/null 2>&1
    check $s 0 "# i2c /dev/i2c-$n: $adapter_name, plain I2C transfers" "" head -n 1 /tmp/$s.txt
}

# 7. A CP2112 USB HID bridge: hid-cp2112 bound to a device made through /dev/uhid.
load hid uhid hid-cp2112
PX_ENGINE_LOG=/tmp/cp2112_engine.log cp2112_emulator /tmp/cp2112_gpio.log &
cp2112_pid=$!
if n=$(adapter_number "CP2112 SMBus Bridge"); then
    check cp2112 0 "CP2112 SMBus Bridge on hidraw0" "" cat /sys/class/i2c-adapter/i2c-$n/name
    adapter_scenario cp2112 $n
else
    echo "VMCHECK cp2112 FAIL: no CP2112 adapter appeared"
    failed_cp2112=1
fi
verdict cp2112

# 8. An i2c-tiny-usb adapter through the real USB stack: gadgetfs on dummy_hcd.
load usb-common usbcore udc-core dummy_hcd gadgetfs i2c-tiny-usb
mkdir -p /dev/gadget
mount -t gadgetfs gadgetfs /dev/gadget
tiny_usb_emulator /dev/gadget &
tiny_usb_pid=$!
if n=$(adapter_number "i2c-tiny-usb"); then
    adapter_scenario tiny_usb $n
else
    echo "VMCHECK tiny_usb FAIL: no i2c-tiny-usb adapter appeared"
    failed_tiny_usb=1
fi
verdict tiny_usb

# hold PORT NAME: a session that holds PORT for a few seconds, in the
# background ($holder), once it has the port (its first action has printed).
hold() {
    ( echo "set 1 1"; sleep 4; echo "get" ) | pxctl --json --port $1 - >/tmp/$2_holder.out 2>&1 &
    holder=$!
    tries=0
    while [ ! -s /tmp/$2_holder.out ] && [ $tries -lt 40 ]; do sleep 0.25; tries=$((tries + 1)); done
}


# 9. GPIO: the CP2112's own lines, bit-banged by the gpio backend through the
# real gpiolib and hid-cp2112, with the simulated device on them (the emulator
# of scenario 7, still running).
log=/tmp/cp2112_gpio.log
chip=$(ls /dev | grep '^gpiochip' | head -n 1)
gp=gpio:chip=cp2112_gpio,sda=0,scl=1,shdn=2
check gpio 0 "200" "" pxctl --port $gp set 2 200 read
check gpio 0 "200" "" pxctl --program a --port $gp get
# Both programs' sessions: the line states the emulator saw, those the
# simulated board's trace of the same session gives.
session_b="set 1 77 set 2 200 read shdn code1=5 mid"
session_a="set 1 77 mid ch2 full get"
for program in a b; do
    eval "session=\$session_$program"
    before=$(wc -l <$log)
    pxctl --program $program --port $gp $session >/tmp/gpio_$program.out
    tail -n +$((before + 1)) $log >/tmp/gpio_$program.seen
    pxctl --program $program --port sim --trace /tmp/sim_$program.log $session >/tmp/sim_$program.out
    line_states /tmp/sim_$program.log >/tmp/sim_$program.states
    check gpio 0 "" "" cmp /tmp/gpio_$program.seen /tmp/sim_$program.states
    check gpio 0 "" "" cmp /tmp/gpio_$program.out /tmp/sim_$program.out
    echo "VMFIGURE gpio program $program: $(wc -l </tmp/gpio_$program.seen) line changes"
done
# A second holder, a line out of range, a chip that is not there.
hold $gp gpio
check gpio 1 "" "pxctl: get: not sent: gpio cp2112_gpio: line 0 (SDA) of $chip is in use by px77xx (action 1; 0 ran before it)" \
    pxctl --port $gp get
wait $holder
check gpio 1 "" "pxctl: get: not sent: gpio cp2112_gpio: line 9 (SCL) is out of range: $chip has 8 lines, 0..7 (action 1; 0 ran before it)" \
    pxctl --port gpio:chip=cp2112_gpio,sda=0,scl=9 get
check gpio 1 "" "pxctl: get: not sent: gpio gpiochip7: no such GPIO chip; chips here: $chip (cp2112_gpio, 8 lines) (action 1; 0 ran before it)" \
    pxctl --port gpio:chip=gpiochip7,sda=0,scl=1 get
# The acknowledge check on the pins: the device answers at 0x2c, nobody at 0x2d.
check gpio 0 "5" "" pxctl --port $gp --check-ack set 1 5 get
check gpio 1 "" "pxctl: run: cut short after 23 of 59 writes: no device answered at 0x2d (action 5; 4 ran before it)" \
    pxctl --port $gp --check-ack bit:25=1 bit:23=1 bit:22=1 bit:20=1 run
check gpio 0 "bus free" "" pxctl --port $gp recover
# The time a line change takes here (an emulated guest: QEMU without KVM,
# then USB HID reports to a user-space emulator).
before=$(wc -l <$log)
t0=$(cut -d' ' -f1 /proc/uptime)
pxctl --port $gp set 1 1 set 1 2 set 1 3 set 1 4 set 1 5 set 1 6 set 1 7 set 1 8 set 1 9 set 1 10
t1=$(cut -d' ' -f1 /proc/uptime)
echo "VMFIGURE gpio $(( $(wc -l <$log) - before )) line changes in $t0 .. $t1 s"
verdict gpio

uptime_now() { cut -d' ' -f1 /proc/uptime; }

# A 256-code sweep of program B (five in one session on an engine, for the
# clock's 10 ms), timed on the guest's instruction clock: "START END LINES",
# LINES being what the model's log (pins or engine) gained.
i=0
while [ $i -lt 256 ]; do echo "set 1 $i"; i=$((i + 1)); done >/tmp/hid_sweep.txt
for i in 1 2 3 4 5; do cat /tmp/hid_sweep.txt; done >/tmp/hid_sweep5.txt
timed_sweep() {
    before=$(wc -l <$2)
    t0=$(uptime_now)
    pxctl --port $1 - <${3:-/tmp/hid_sweep.txt} >/dev/null
    t1=$(uptime_now)
    echo "$t0 $t1 $(( $(wc -l <$2) - before ))"
}
# compare NAME WHAT OURS THEIRS THEIR_NAME UNIT: the figure, and at most 1.2 times theirs.
compare_sweeps() {
    figure=$(echo "$3 $4" | awk -v what="$2" -v theirs="$5" -v unit="$6" '{
        a = $2 - $1; b = $5 - $4
        printf "%s %.2f s, %.0f us a %s (%d); %s %.2f s, %.0f us a %s (%d); ratio %.2f", what, a, 1e6 * a / $3, unit, $3,
               theirs, b, 1e6 * b / $6, unit, $6, a / b }')
    echo "VMFIGURE $1 sweep: $figure (at most 1.2)"
    ratio=${figure##* }
    check $1 0 "" "" awk -v r="$ratio" 'BEGIN { exit !(r <= 1.2) }'
}

# hid_scenario NAME PORT PIN_LOG ENGINE_LOG: a HID bridge backend on the chip's
# hidraw node. With pins, both programs' sessions move them exactly as the
# simulated board's trace does; without, the chip's I2C engine carries the
# transactions the simulated board's decoded trace shows, and the reads agree.
session_engine_b="set 1 77 set 2 200 read code1=5 mid"
hid_scenario() {
    name=$1 port=$2 pins=$3 engine=$4 chip=$5
    for program in a b; do
        eval "session=\$session_$program"
        before=$(wc -l <$pins)
        pxctl --program $program --port $port:sda=0,scl=1,shdn=2 $session >/tmp/${name}_$program.out
        tail -n +$((before + 1)) $pins >/tmp/${name}_$program.seen
        check $name 0 "" "" cmp /tmp/${name}_$program.seen /tmp/sim_$program.states
        check $name 0 "" "" cmp /tmp/${name}_$program.out /tmp/sim_$program.out
        echo "VMFIGURE $name pins, program $program: $(wc -l </tmp/${name}_$program.seen) line changes"
    done
    for program in a b; do
        eval "session=\$session_$program"
        [ $program = b ] && session=$session_engine_b
        before=$(wc -l <$engine)
        pxctl --program $program --port $port $session >/tmp/${name}_engine_$program.out
        tail -n +$((before + 1)) $engine >/tmp/${name}_engine_$program.seen
        pxctl --program $program --port sim --trace /tmp/sim_engine_$program.txt $session >/tmp/sim_engine_$program.out
        transactions /tmp/sim_engine_$program.txt >/tmp/sim_engine_$program.want
        check $name 0 "" "" cmp /tmp/${name}_engine_$program.seen /tmp/sim_engine_$program.want
        check $name 0 "" "" cmp /tmp/${name}_engine_$program.out /tmp/sim_engine_$program.out
        echo "VMFIGURE $name engine, program $program: $(wc -l </tmp/${name}_engine_$program.seen) transactions"
    done
    check $name 1 "" "pxctl: shdn: not sent: $port: cannot drive /SHDN: the $chip's I2C engine carries whole transactions and has no /SHDN line (give its pins, sda=, scl= and shdn=, to bit-bang the bus with one) (action 1; 0 ran before it)" \
        pxctl --port $port shdn
}

# 13. The cp2112 backend on the CP2112 model's hidraw node, beside hid-cp2112
# (which gives the chip one), through the same emulator as scenarios 7 and 9.
hid_scenario cp2112_hid cp2112 /tmp/cp2112_gpio.log /tmp/cp2112_engine.log CP2112
check cp2112_hid 1 "" "pxctl: get: not sent: cp2112 s:9999: no CP2112 matches dev=s:9999; CP2112s here: 0: CP2112 on hidraw0 serial 0001 \"CP2112 emulated\" (action 1; 0 ran before it)" \
    pxctl --port cp2112:dev=s:9999 get
check cp2112_hid 0 "128" "" pxctl --port cp2112:dev=/dev/hidraw0,sda=0,scl=1 get
check cp2112_hid 1 "" "pxctl: get: not sent: cp2112: open /dev/hidraw0 (CP2112 on hidraw0): Permission denied (install px77xx-cli, whose udev rule (60-px77xx-hid.rules) gives the logged-in user these adapters' hidraw nodes, then plug the adapter in again; or run as root) (action 1; 0 ran before it)" \
    as outsider pxctl --port cp2112 get
check cp2112_hid 1 "" "pxctl: set 1 5: not sent: cp2112: no device answered at 0x2d (action 1; 0 ran before it)" \
    pxctl --port cp2112 --address 0x2d set 1 5
# The package's udev rule gives the seat's user the bridge's hidraw node.
check cp2112_hid 0 "" "" sh -c "udevadm test --action=add /sys/class/hidraw/hidraw0 2>&1 | grep -q 'TAGS=.*:uaccess:'"
# One program a bridge: a second is refused while the first holds it.
hold cp2112:sda=0,scl=1 cp2112_hid
check cp2112_hid 1 "" "pxctl: get: not sent: cp2112 s:0001 is in use by another program (pid $holder) (action 1; 0 ran before it)" \
    pxctl --port cp2112:dev=s:0001 get
wait $holder
# Against the kernel's own paths to the same chip: the gpio backend on
# hid-cp2112's gpiochip, the i2c backend on its adapter.
cp_bus=$(adapter_number "CP2112 SMBus Bridge")
compare_sweeps cp2112_hid pins "$(timed_sweep cp2112:sda=0,scl=1,shdn=2 /tmp/cp2112_gpio.log)" \
    "$(timed_sweep gpio:chip=cp2112_gpio,sda=0,scl=1,shdn=2 /tmp/cp2112_gpio.log)" gpio "line change"
compare_sweeps cp2112_hid engine "$(timed_sweep cp2112 /tmp/cp2112_engine.log /tmp/hid_sweep5.txt)" \
    "$(timed_sweep i2c:bus=$cp_bus /tmp/cp2112_engine.log /tmp/hid_sweep5.txt)" i2c transaction
verdict cp2112_hid

# 14. An MCP2221: first held by hid-generic, with a hidraw node, for the
# mcp2221 backend; then by the kernel's hid-mcp2221, which gives it none but
# makes an I2C adapter and a gpiochip, for the i2c and gpio backends.
load hid-generic
PX_ENGINE_LOG=/tmp/mcp2221_engine.log mcp2221_emulator /tmp/mcp2221_gpio.log &
mcp2221_pid=$!
tries=0
until ls /sys/bus/hid/devices/*:04D8:00DD.*/hidraw >/dev/null 2>&1 || [ $tries -ge 50 ]; do sleep 0.1; tries=$((tries + 1)); done
mcp_node=$(ls /sys/bus/hid/devices/*:04D8:00DD.*/hidraw 2>/dev/null | head -n 1)
if [ -n "$mcp_node" ]; then
    echo "VMCHECK mcp2221_hid ok: hid-generic gave it $mcp_node"
    hid_scenario mcp2221_hid mcp2221 /tmp/mcp2221_gpio.log /tmp/mcp2221_engine.log MCP2221
    check mcp2221_hid 0 "" "" sh -c "udevadm test --action=add /sys/class/hidraw/$mcp_node 2>&1 | grep -q 'TAGS=.*:uaccess:'"
    mcp_pins=$(timed_sweep mcp2221:sda=0,scl=1,shdn=2 /tmp/mcp2221_gpio.log)
    mcp_engine=$(timed_sweep mcp2221 /tmp/mcp2221_engine.log /tmp/hid_sweep5.txt)
    check mcp2221_hid 1 "" "pxctl: get: not sent: cp2112: 2 CP2112s are attached: name one with dev=s:SERIAL, dev=N or dev=PATH (0: CP2112 on hidraw0 serial 0001 \"CP2112 emulated\", 1: CP2112 on hidraw2 serial 0002 \"CP2112 emulated\") (action 1; 0 ran before it)" \
        sh -c 'cp2112_emulator /tmp/cp2112_second.log 0x2c 0002 & p=$!; t=0
               while [ ! -e /dev/hidraw2 ] && [ $t -lt 50 ]; do sleep 0.1; t=$((t + 1)); done
               pxctl --port cp2112 get; s=$?; kill $p; exit $s'
    pxctl detect >/tmp/detect_hid.txt
    check mcp2221_hid 0 "" "" grep -q "^mcp2221:dev=s:MCP0001 .*MCP2221 on $mcp_node serial MCP0001" /tmp/detect_hid.txt
    check mcp2221_hid 0 "" "" grep -q "^cp2112:dev=s:0001 .*CP2112 on hidraw0 serial 0001" /tmp/detect_hid.txt
else
    echo "VMCHECK mcp2221_hid FAIL: hid-generic gave the MCP2221 no hidraw node"
    failed_mcp2221_hid=1
fi
verdict mcp2221_hid

load hid-mcp2221
# Linux 6.1's driver waits at probe on answers the HID core hands it only
# after probe returns: the chip answers once the gpiochip is there.
tries=0
until ls -d /sys/bus/hid/devices/*:04D8:00DD.*/gpiochip* >/dev/null 2>&1 || [ $tries -ge 60 ]; do
    sleep 1; tries=$((tries + 1))
done
if n=$(adapter_number "MCP2221 usb-i2c bridge"); then
    echo "VMCHECK mcp2221_kernel ok: the adapter and gpiochip after $tries s"
    mcp_id=$(basename $(dirname $(ls -d /sys/bus/hid/devices/*:04D8:00DD.*/i2c-$n)))
    check mcp2221_kernel 1 "" "pxctl: get: not sent: mcp2221: the MCP2221 on $mcp_id serial MCP0001 \"MCP2221 emulated\" is held by the kernel's mcp2221 driver, which gives it no hidraw node: the kernel's i2c and gpio backends reach it (i2c:bus=N, gpio:chip=mcp2221_gpio); or, for this backend, unbind it (echo $mcp_id > /sys/bus/hid/drivers/mcp2221/unbind), keep the driver off (rmmod hid-mcp2221) and plug the chip in again (action 1; 0 ran before it)" \
        pxctl --port mcp2221 get
    for program in a b; do
        eval "session=\$session_$program"
        [ $program = b ] && session=$session_engine_b
        check mcp2221_kernel 0 "$(cat /tmp/sim_engine_$program.out)" "" pxctl --program $program --port i2c:bus=$n $session
        before=$(wc -l </tmp/mcp2221_gpio.log)
        eval "session=\$session_$program"
        pxctl --program $program --port gpio:chip=mcp2221_gpio,sda=0,scl=1,shdn=2 $session >/tmp/mcpk_$program.out
        tail -n +$((before + 1)) /tmp/mcp2221_gpio.log >/tmp/mcpk_$program.seen
        check mcp2221_kernel 0 "" "" cmp /tmp/mcpk_$program.seen /tmp/sim_$program.states
        # Linux 6.1's hid-mcp2221 answers a GP pin's direction byte for its
        # level (the chip sends the level first): a released SDA reads 1
        # whatever the device drives, so every read-back reads 255. The writes
        # are exact; the mcp2221 backend on hidraw reads right (above).
        check mcp2221_kernel 0 "$(sed 's/.*/255/' /tmp/sim_$program.out)" "" cat /tmp/mcpk_$program.out
    done
    compare_sweeps mcp2221_kernel "mcp2221 pins" "$mcp_pins" \
        "$(timed_sweep gpio:chip=mcp2221_gpio,sda=0,scl=1,shdn=2 /tmp/mcp2221_gpio.log)" gpio "line change"
    compare_sweeps mcp2221_kernel "mcp2221 engine" "$mcp_engine" \
        "$(timed_sweep i2c:bus=$n /tmp/mcp2221_engine.log /tmp/hid_sweep5.txt)" i2c transaction
else
    echo "VMCHECK mcp2221_kernel FAIL: hid-mcp2221 made no adapter"
    failed_mcp2221_kernel=1
fi
kill $mcp2221_pid
tries=0
while ls -d /sys/bus/hid/devices/*:04D8:00DD.* >/dev/null 2>&1 && [ $tries -lt 50 ]; do sleep 0.1; tries=$((tries + 1)); done
while [ -e /dev/hidraw2 ] && [ $tries -lt 100 ]; do sleep 0.1; tries=$((tries + 1)); done
verdict mcp2221_kernel

# 10. An FT232H through libftdi, libusb and the real USB stack: the chip's model
# served by gadgetfs on dummy_hcd (in place of the i2c-tiny-usb adapter, since
# gadgetfs serves one gadget), the simulated device on its pins.
kill $tiny_usb_pid
wait $tiny_usb_pid 2>/dev/null
# The FT232H's node, d:BUS/ADDR, once it is enumerated.
ftdi_node() {
    tries=0
    while [ $tries -lt 100 ]; do
        for d in /sys/bus/usb/devices/*; do
            if [ "$(cat $d/idProduct 2>/dev/null)" = 6014 ]; then
                printf 'd:%03d/%03d' "$(cat $d/busnum)" "$(cat $d/devnum)"
                return 0
            fi
        done
        sleep 0.1
        tries=$((tries + 1))
    done
    return 1
}
start_ft232h() {
    ft232h_emulator /dev/gadget /tmp/ftdi_lines.log /tmp/ftdi_counts "$@" &
    ft232h_pid=$!
    node=$(ftdi_node)
}
# The bulk transfers a command makes: "out=N in=M".
transfers() {
    before=$(cat /tmp/ftdi_counts)
    "$@" >/dev/null 2>&1
    after=$(cat /tmp/ftdi_counts)
    echo "$before $after" | sed 's/out=//g; s/in=//g' | awk '{ print "out=" $3 - $1 " in=" $4 - $2 }'
}
start_ft232h --record /tmp/ftdi_record
if [ -z "$node" ]; then
    echo "VMCHECK ftdi FAIL: no FT232H appeared"
    failed_ftdi=1
fi
fp=ftdi:dev=i:0403:6014,shdn=3
check ftdi 0 "200" "" pxctl --port $fp set 2 200 read
check ftdi 0 "77" "" pxctl --program a --port $fp set 1 77
check ftdi 0 "77" "" pxctl --port ftdi:dev=s:0403:6014:PX000001,shdn=3 get
check ftdi 0 "77" "" pxctl --port ftdi:dev=$node,sda_in=2,shdn=3 get
log=/tmp/ftdi_lines.log
for program in a b; do
    eval "session=\$session_$program"
    before=$(wc -l <$log)
    pxctl --program $program --port $fp $session >/tmp/ftdi_$program.out
    tail -n +$((before + 1)) $log >/tmp/ftdi_$program.seen
    check ftdi 0 "" "" cmp /tmp/ftdi_$program.seen /tmp/sim_$program.states
    check ftdi 0 "" "" cmp /tmp/ftdi_$program.out /tmp/sim_$program.out
done
# USB transfers: the echo check and the setup at every open, then one write a
# frame, and a round trip a bit sampled.
check ftdi 0 "out=3 in=1" "" transfers pxctl --port $fp set 2 200
check ftdi 0 "out=12 in=9" "" transfers pxctl --port $fp read
check ftdi 0 "out=12 in=9" "" transfers pxctl --program a --port $fp set 1 5
check ftdi 0 "out=7 in=5" "" transfers pxctl --port $fp --check-ack set 2 200
# Closing leaves the pins as they are: a shutdown outlasts the program.
pxctl --port $fp shdn
check ftdi 0 "1 1 0" "" tail -n 1 /tmp/ftdi_lines.log
# A 256-code sweep in one session, here and on the CP2112's GPIO lines, and
# the same transfers sent by a bare libftdi loop.
i=0
while [ $i -lt 256 ]; do echo "set 1 $i"; i=$((i + 1)); done >/tmp/sweep.txt
# A run's pace read off the chip's side: the microseconds between one frame's
# transfer and the next, start-up and the echo check left out. Every run of
# the sweep makes the same 258 transfers, the echo check first.
sweep_gaps() {
    tail -n +$(($1 + 2)) /tmp/ftdi_record | awk 'NR > 1 { print $2 - last } { last = $2 }'
}
median() { sort -n "$1" | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
recorded=$(wc -l </tmp/ftdi_record)
t0=$(uptime_now); pxctl --port $fp - </tmp/sweep.txt; t1=$(uptime_now)
tail -n +$((recorded + 1)) /tmp/ftdi_record >/tmp/sweep.rec
check ftdi 0 "258" "" sh -c "wc -l </tmp/sweep.rec"
head -n 1 /tmp/sweep.txt >/tmp/one.txt
t4=$(uptime_now); pxctl --port $gp - </tmp/sweep.txt; t5=$(uptime_now)
o0=$(uptime_now); pxctl --port $fp - </tmp/one.txt; o1=$(uptime_now)
pxctl --port $gp - </tmp/one.txt; o3=$(uptime_now)
# The backend against the bare loop, in turns, so that a change in the host's
# load falls on both alike; the median gap between frames is the pace, which
# the odd frame held up by the host does not move.
: >/tmp/gaps.pxctl
: >/tmp/gaps.loop
for round in 1 2 3 4 5; do
    recorded=$(wc -l </tmp/ftdi_record)
    pxctl --port $fp - </tmp/sweep.txt
    sweep_gaps "$recorded" >>/tmp/gaps.pxctl
    recorded=$(wc -l </tmp/ftdi_record)
    ftdi_loop /tmp/sweep.rec >/dev/null
    sweep_gaps "$recorded" >>/tmp/gaps.loop
done
check ftdi 0 "1280 1280" "" sh -c 'echo $(wc -l </tmp/gaps.pxctl) $(wc -l </tmp/gaps.loop)'
figures=$(echo "$t0 $t1 $t4 $t5 $o0 $o1 $o3 $(median /tmp/gaps.pxctl) $(median /tmp/gaps.loop)" | awk '{
    g = ($4 - $3 - ($7 - $6)) / 255 * 1000; f = $8 / 1000; l = $9 / 1000
    printf "sessions ftdi %.2f s, gpio %.2f s; a frame (median): ftdi %.2f ms, loop %.2f ms, gpio %.2f ms; gpio/ftdi %.1f, ftdi/loop %.2f",
        $2 - $1, $4 - $3, f, l, g, g / f, f / l }')
echo "VMFIGURE ftdi sweep of 256 codes: $figures"
for kind in pxctl loop; do
    echo "VMFIGURE ftdi gaps between frames, $kind, quartiles in us: $(sort -n /tmp/gaps.$kind | awk '{ v[NR] = $1 } END { print v[1], v[int(NR / 4)], v[int(NR / 2)], v[int(3 * NR / 4)], v[NR] }')"
done
times=$(echo "$t0 $t1 $t4 $t5" | awk '{ printf "%d", ($4 - $3) / ($2 - $1) }')
check ftdi 0 "" "" test "$times" -ge 2
# The backend adds nothing to the USB transfers a bare loop makes: per frame,
# within 1.2 times the loop's time.
ratio=${figures##*ftdi/loop }
echo "VMFIGURE ftdi per frame against the bare libftdi loop: $ratio (at most 1.2)"
check ftdi 0 "" "" awk "BEGIN { exit !($ratio <= 1.2) }"
# A second program on the device, a wrong pin, a device not there, a user
# without the device's permission.
hold $fp ftdi
check ftdi 1 "" "pxctl: get: not sent: ftdi i:0403:6014: interface A of the FT232H at $node is held by another program (action 1; 0 ran before it)" \
    pxctl --port $fp get
wait $holder
check ftdi 2 "" "pxctl: ftdi: scl=9 is out of range; scl accepts an ADBUS pin 0..7" pxctl --port ftdi:dev=i:0403:6014,scl=9 get
check ftdi 1 "" "pxctl: get: not sent: ftdi i:0403:6010: no FT2232H matches i:0403:6010; \`lsusb\` lists USB devices; FTDI devices here: $node 0403:6014 FT232H \"FT232H model\" serial PX000001 (action 1; 0 ran before it)" \
    pxctl --port ftdi:dev=i:0403:6010 get
usb_path=/dev/bus/usb/$(echo $node | cut -c3-)
chmod 664 $usb_path
check ftdi 1 "" "pxctl: get: not sent: ftdi i:0403:6014: open $usb_path (FT232H at $node): Permission denied (install px77xx-cli, whose udev rule gives the logged-in user FTDI devices, then unplug and replug it; or run as root) (action 1; 0 ran before it)" \
    as outsider pxctl --port $fp get
# The model killed mid-session: the frame that found it gone was not sent.
( echo "set 1 1"; sleep 2; echo "set 1 2" ) | pxctl --port $fp - >/tmp/ftdi_killed.out 2>/tmp/ftdi_killed.err &
session=$!
sleep 1
kill $ft232h_pid
wait $session
echo $? >/tmp/ftdi_killed.status
check ftdi 0 "1" "" cat /tmp/ftdi_killed.status
check ftdi 0 "pxctl: line 2: set 1 2: not sent: ftdi i:0403:6014: USB write of 192 bytes failed: usb bulk write failed (was the FT232H unplugged?) (action 2; 1 ran before it)" "" \
    cat /tmp/ftdi_killed.err
# No device on the pins: the acknowledge check says so, at a round trip a slot.
wait $ft232h_pid 2>/dev/null
start_ft232h --absent
check ftdi 1 "" "pxctl: set 1 5: cut short after 23 of 59 writes: no device answered at 0x2c (action 1; 0 ran before it)" \
    pxctl --port $fp --check-ack set 1 5
check ftdi 0 "out=5 in=3" "" transfers pxctl --port $fp --check-ack set 1 5
kill $ft232h_pid
verdict ftdi

# 11. detect: every port this machine offers, with a port string that works;
# what an unprivileged user may not open, and why; --probe on the buses named.
insmod /modules/i2c-stub.ko chip_addr=0x50
stub=$(adapter_number "SMBus stub driver")
cp2112_bus=$(adapter_number "CP2112 SMBus Bridge")
start_ft232h
pxctl detect --json >/tmp/detect.json
pxctl detect >/tmp/detect.txt
cat /tmp/detect.txt
for want in "ppdev:dev=/dev/parport0" "io:base=0x378" "i2c:bus=$stub" "i2c:bus=$cp2112_bus" \
            "gpio:chip=cp2112_gpio,sda=0,scl=1" "ftdi:dev=s:0403:6014:PX000001" "sim"; do
    check detect 0 "" "" grep -q "\"port\":\"$want\",.*\"usable\":true}" /tmp/detect.json
done
check detect 0 "i2c:bus=$stub i2c-$stub (SMBus stub driver); usable" "" sh -c "grep '^i2c:bus=$stub ' /tmp/detect.txt | tr -s ' '"
# Each port string listed opens in pxctl: the read-back runs, or says that
# nobody answered (the empty i2c-stub, QEMU's parallel port with nothing on it
# reads 255).
sed -n 's/.*"port":"\([^"]*\)".*/\1/p' /tmp/detect.json | while read -r port; do
    pxctl --port "$port" get >/tmp/detect_get.out 2>/tmp/detect_get.err
    status=$?
    if [ $status = 0 ] || grep -q "no device answered at 0x2c" /tmp/detect_get.err; then
        echo "VMCHECK detect ok: pxctl --port $port get"
    else
        echo "VMCHECK detect FAIL: pxctl --port $port get: status $status, $(cat /tmp/detect_get.err)"
        echo 1 >/tmp/detect_failed
    fi
done
[ -e /tmp/detect_failed ] && failed_detect=1
as outsider pxctl detect >/tmp/detect_outsider.txt
cat /tmp/detect_outsider.txt
check detect 0 "" "" grep -q "^ppdev:dev=/dev/parport0 .*; not usable: /dev/parport0: permission denied: add your user to the lp group, then log in again$" /tmp/detect_outsider.txt
check detect 0 "" "" grep -q "^io:base=0x378 .*; not usable: direct port I/O: run as root, or grant CAP_SYS_RAWIO$" /tmp/detect_outsider.txt
check detect 0 "" "" grep -q "^i2c:bus=$stub .*; not usable: /dev/i2c-$stub: permission denied: only root may open it (a udev rule can give it to a group)$" /tmp/detect_outsider.txt
check detect 0 "" "" grep -q "^ftdi:dev=s:0403:6014:PX000001 .*; not usable: /dev/bus/usb/.*: permission denied: install px77xx-cli's udev rule (60-px77xx-ftdi.rules), then plug the chip in again$" /tmp/detect_outsider.txt
check detect 0 "i2c:bus=$cp2112_bus: a device answered at 0x2c" "" pxctl detect --probe i2c:bus=$cp2112_bus
check detect 1 "i2c:bus=$stub: no device answered at 0x2c" "" pxctl detect --probe i2c:bus=$stub
# --scan asks every address, as i2cdetect does: the kernel's stub answers at its own alone.
check detect 0 "i2c:bus=$stub: a device answered at 0x50" "pxctl: --scan sends a read-back to every address 0x08..0x77 on i2c:bus=$stub; another device on this bus may take it for a command, as i2cdetect warns" \
    pxctl detect --scan i2c:bus=$stub
check detect 0 "{\"port\":\"gpio:chip=cp2112_gpio,sda=0,scl=1\",\"address\":\"0x2c\",\"answered\":true}" "" \
    pxctl detect --json --probe gpio:chip=cp2112_gpio,sda=0,scl=1
kill $ft232h_pid
verdict detect

# 12. A chip strapped to 0x2d: the CP2112 model again, with its devices there.
# The frames reach it with --address and not without.
old=$cp2112_bus
kill $cp2112_pid
tries=0
while [ -e /sys/bus/i2c/devices/i2c-$old ] && [ $tries -lt 50 ]; do sleep 0.1; tries=$((tries + 1)); done
cp2112_emulator /tmp/cp2112_2d.log 0x2d &
cp2112_pid=$!
n=$(adapter_number "CP2112 SMBus Bridge")
check address 0 "9" "" pxctl --address 0x2d --port i2c:bus=$n set 1 9 get
check address 0 "0x09" "" i2ctransfer -y $n w1@0x2d 0x00 r1@0x2d
check address 1 "" "pxctl: get: not sent: i2c /dev/i2c-$n: no device answered at 0x2c (action 1; 0 ran before it)" \
    pxctl --port i2c:bus=$n get
check address 0 "7" "" pxctl --address 0x2d --port $gp --check-ack set 2 7 get
check address 1 "" "pxctl: get: cut short after 23 of 40 writes: no device answered at 0x2c (action 1; 0 ran before it)" \
    pxctl --port $gp --check-ack get
check address 0 "7" "" pxctl --program a --address 0x2d --port $gp --check-ack get
check address 0 "i2c:bus=$n: a device answered at 0x2d" "" pxctl --address 0x2d detect --probe i2c:bus=$n
check address 0 "{\"port\":\"i2c:bus=$n\",\"scanned\":\"0x08..0x77\",\"answered\":[\"0x2d\"]}" "" \
    sh -c "pxctl detect --json --scan i2c:bus=$n 2>/dev/null"
kill $cp2112_pid
verdict address
