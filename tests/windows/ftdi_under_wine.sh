#!/bin/sh
# The ftdi backend on Windows, through FTDI's D2XX library: pxctl.exe under
# wine, beside a stand-in ftd2xx.dll whose FT232H runs MPSSE as the VM's model
# does (ftd2xx_model.cpp). The pins follow the board's split of every write;
# a write frame is one FT_Write; every message a Windows user meets.
# Usage: ftdi_under_wine.sh PXCTL.EXE FTD2XX.DLL LINE_STATES.AWK WINE...
set -u
pxctl_built=$1 model=$2 line_states_awk=$3
shift 3
wine="$*"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failed=0
# As installed: the library beside the program, where Windows looks first.
mkdir "$work/app"
cp "$pxctl_built" "$work/app/pxctl.exe"
cp "$model" "$work/app/ftd2xx.dll"
pxctl="$work/app/pxctl.exe"
export PX77XX_FTD2XX_LOG PX77XX_FTD2XX_WRITES PX77XX_FTD2XX
PX77XX_FTD2XX_LOG=$($wine winepath -w "$work/pins.log" 2>/dev/null)
PX77XX_FTD2XX_WRITES=$($wine winepath -w "$work/writes.log" 2>/dev/null)
PX77XX_FTD2XX=""

fresh() { rm -f "$work/pins.log" "$work/writes.log"; : >"$work/pins.log"; : >"$work/writes.log"; }
ok() { echo "ok $1"; }
bad() { echo "FAIL $1"; failed=1; }

# check NAME STATUS STDOUT STDERR -- PXCTL ARGS...: exit status and exact output.
check() {
    name=$1 want_status=$2 want_out=$3 want_err=$4
    shift 5
    $wine "$@" >"$work/out" 2>"$work/err"
    status=$?
    out=$(cat "$work/out")
    err=$(tr -d '\r' <"$work/err")
    if [ "$status" = "$want_status" ] && [ "$out" = "$want_out" ] && [ "$err" = "$want_err" ]; then
        ok "$name"
    else
        printf 'FAIL %s: %s\n  status %s, want %s\n' "$name" "$*" "$status" "$want_status"
        printf '  stdout [%s]\n  want   [%s]\n  stderr [%s]\n  want   [%s]\n' "$out" "$want_out" "$err" "$want_err"
        failed=1
    fi
}

# The pin changes the board sees from a trace's writes.
line_states() { awk -f "$line_states_awk" "$1"; }

port=ftdi:dev=s:PX000001,shdn=3
session_a="code1=200 code2=17 ch1 zero mid ch2 full run read get set 1 77"
session_b="code1=200 code2=17 ch1 zero mid ch2 full run read get bit:13=1 bit:18=1 run shdn set 1 200 shdn get set 2 0"

# 1. Both programs: the pins as the simulated board's trace splits its writes,
#    and the same output.
for p in a b; do
    eval "actions=\$session_$p"
    fresh
    # shellcheck disable=SC2086
    $wine "$pxctl" --program $p --port $port $actions >"$work/ftdi_$p.out" 2>"$work/err" || { cat "$work/err"; failed=1; }
    # shellcheck disable=SC2086
    $wine "$pxctl" --program $p --port sim --trace "$work/sim_$p.log" $actions >"$work/sim_$p.out" 2>/dev/null
    line_states "$work/sim_$p.log" >"$work/sim_$p.states"
    tr -d '\r' <"$work/pins.log" >"$work/ftdi_$p.states"
    if cmp -s "$work/ftdi_$p.states" "$work/sim_$p.states" && cmp -s "$work/ftdi_$p.out" "$work/sim_$p.out" &&
        [ -s "$work/sim_$p.states" ]; then
        ok "program_${p}_pins_as_the_board_splits_them ($(wc -l <"$work/sim_$p.states") changes)"
    else
        bad "program_${p}_pins_as_the_board_splits_them"
        diff "$work/sim_$p.states" "$work/ftdi_$p.states" | head -10
        diff "$work/sim_$p.out" "$work/ftdi_$p.out" | head -5
    fi
done

# 2. FT_Write calls: the echo check and the setup at every open, then one a
#    write frame, and one a bit sampled (as the VM's FT232H counts them).
writes() {  # WANT ACTIONS...: the FT_Write calls one pxctl makes
    want=$1
    shift
    fresh
    # shellcheck disable=SC2086
    $wine "$pxctl" --port $port "$@" >/dev/null 2>&1
    got=$(wc -l <"$work/writes.log")
    if [ "$got" = "$want" ]; then ok "writes_$want: $*"; else bad "writes: $* made $got FT_Write calls, want $want"; fi
}
writes 3 set 2 200
writes 5 set 1 5 set 2 6 set 1 7
writes 12 read

# 3. Naming the chip: each form, and none with one chip attached.
for dev in "s:PX000001" "loc:0x1011" "loc:4113" "desc:FT232H model" "0"; do
    check "dev_$dev" 0 "128" "" -- "$pxctl" --port "ftdi:dev=$dev" get
done
check dev_left_out_with_one_chip 0 "128" "" -- "$pxctl" --port ftdi get

# 4. What detect lists, and the messages a Windows user meets.
$wine "$pxctl" detect >"$work/detect" 2>&1
if grep -q '^ftdi:dev=s:PX000001 *FT232H "FT232H model" on loc 0x1011; usable' "$work/detect"; then
    ok detect_lists_the_chip
else
    bad detect_lists_the_chip; cat "$work/detect"
fi
forms='s:SERIAL, loc:ID, desc:TEXT or an index, as `pxctl detect` lists them'
check no_such_serial 1 "" "pxctl: get: not sent: ftdi s:PX000009: no FTDI device matches s:PX000009; \`pxctl detect\` lists the FTDI chips FTDI's driver sees; FTDI devices here: loc 0x1011 0403:6014 FT232H \"FT232H model\" serial PX000001 (action 1; 0 ran before it)" \
    -- "$pxctl" --port ftdi:dev=s:PX000009 get
check bad_selector 2 "" "pxctl: ftdi: dev=i:0403:6014 is not a device FTDI's D2XX driver can name; dev accepts $forms" \
    -- "$pxctl" --port ftdi:dev=i:0403:6014 get
check no_mpsse_on_b 1 "" "pxctl: get: not sent: ftdi s:PX000001: the FT232H at loc 0x1011 has no MPSSE engine on interface B (it has A) (action 1; 0 ran before it)" \
    -- "$pxctl" --port ftdi:dev=s:PX000001,iface=B get
PX77XX_FTD2XX=none
check none_attached 2 "" "pxctl: ftdi: name the device with dev=$forms; no FTDI device is attached (\`pxctl detect\` lists the FTDI chips FTDI's driver sees)" \
    -- "$pxctl" --port ftdi get
PX77XX_FTD2XX=two
check two_attached_name_one 2 "" "pxctl: ftdi: name the device with dev=$forms; FTDI devices here: loc 0x1011 0403:6014 FT232H \"FT232H model\" serial PX000001, loc 0x1012 0403:6014 FT232H \"FT232H model\" serial PX000002" \
    -- "$pxctl" --port ftdi get
PX77XX_FTD2XX=busy
check held_by_another_program 1 "" "pxctl: get: not sent: ftdi loc:0x1011: interface A of the FT232H at loc 0x1011 is held by another program (action 1; 0 ran before it)" \
    -- "$pxctl" --port ftdi:dev=loc:0x1011 get
$wine "$pxctl" detect >"$work/detect" 2>&1
if grep -q '^ftdi:dev= *FT232H on loc 0x1011; not usable: another program has it open' "$work/detect"; then
    ok detect_says_another_program_has_it
else
    bad detect_says_another_program_has_it; grep ftdi "$work/detect"
fi
PX77XX_FTD2XX=noecho
check no_echo 1 "" "pxctl: get: not sent: ftdi s:PX000001: the FT232H did not answer within 1 s (action 1; 0 ran before it)" \
    -- "$pxctl" --port $port get
# Unplugged in the second frame: the first reached the pins, whole; the second
# is reported as cut short where it was.
PX77XX_FTD2XX=unplug=4
fresh
check unplugged_mid_session 1 "" "pxctl: set 2 6: not sent: ftdi s:PX000001: USB write of 198 bytes failed: FT_IO_ERROR (was the FT232H unplugged?) (action 2; 1 ran before it)" \
    -- "$pxctl" --port $port set 1 5 set 2 6
$wine "$pxctl" --port sim --trace "$work/one.log" set 1 5 >/dev/null 2>&1
line_states "$work/one.log" >"$work/one.states"
if tr -d '\r' <"$work/pins.log" | cmp -s - "$work/one.states"; then ok unplugged_first_frame_whole; else bad unplugged_first_frame_whole; fi
# Unplugged inside a read-back, which writes once a bit it samples: the report
# says how many of its writes reached the pins, and the pins show just those.
PX77XX_FTD2XX=unplug=5
fresh
check unplugged_mid_read_back 1 "" "pxctl: get: cut short after 23 of 40 writes: ftdi s:PX000001: USB write of 8 bytes failed: FT_IO_ERROR (was the FT232H unplugged?) (action 1; 0 ran before it)" \
    -- "$pxctl" --port $port get
$wine "$pxctl" --port sim --trace "$work/get.log" get >/dev/null 2>&1
awk '$1 == "out"' "$work/get.log" | head -n 23 >"$work/get23.log"
line_states "$work/get23.log" >"$work/get23.states"
if tr -d '\r' <"$work/pins.log" | cmp -s - "$work/get23.states"; then ok unplugged_pins_show_the_writes_reached; else bad unplugged_pins_show_the_writes_reached; fi
PX77XX_FTD2XX=""
# No ftd2xx.dll at all: the program runs, and says what to install. One in the
# current folder is not FTDI's driver, and is left alone.
cp "$model" "$work/ftd2xx.dll"
cd "$work" || exit 1
check library_absent 1 "" "pxctl: get: not sent: ftdi s:PX000001: FTDI's D2XX driver is not installed (ftd2xx.dll: Module not found): Windows installs it by itself when an FTDI chip is first plugged in, from Windows Update; or install FTDI's D2XX driver (CDM) from ftdichip.com (action 1; 0 ran before it)" \
    -- "$pxctl_built" --port ftdi:dev=s:PX000001 get
check library_absent_sim_runs 0 "128" "" -- "$pxctl_built" --port sim get
exit $failed
