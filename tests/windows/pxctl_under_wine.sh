#!/bin/sh
# pxctl.exe as a Windows user runs it, under wine, checked from the host: the
# golden traces byte for byte, sessions through port DLLs of both interfaces,
# the messages a Windows user meets, and two programs on one DLL.
# Usage: pxctl_under_wine.sh PXCTL.EXE OUTPORTW.DLL OUT32.DLL NEITHER.DLL GOLDEN_DIR WINE...
set -u
pxctl=$1 dll_w=$2 dll_32=$3 dll_none=$4 golden=$5
shift 5
wine="$*"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failed=0

run() { $wine "$pxctl" "$@"; }
win() { $wine winepath -w "$1" 2>/dev/null; }

# check NAME STATUS STDOUT STDERR -- ARGS...: pxctl's exit status and exact output.
check() {
    name=$1 want_status=$2 want_out=$3 want_err=$4
    shift 5
    run "$@" >"$work/out" 2>"$work/err"
    status=$?
    out=$(cat "$work/out")
    err=$(cat "$work/err")
    if [ "$status" = "$want_status" ] && [ "$out" = "$want_out" ] && [ "$err" = "$want_err" ]; then
        echo "ok $name"
    else
        printf 'FAIL %s: pxctl.exe %s\n  status %s, want %s\n' "$name" "$*" "$status" "$want_status"
        printf '  stdout [%s]\n  want   [%s]\n  stderr [%s]\n  want   [%s]\n' "$out" "$want_out" "$err" "$want_err"
        failed=1
    fi
}
same() {  # NAME FILE EXPECTED-FILE
    if cmp -s "$2" "$3"; then echo "ok $1"; else echo "FAIL $1:"; diff "$3" "$2" | head -20; failed=1; fi
}

session_a="code1=200 code2=17 ch1 zero mid ch2 full run read get bit:13=1 bit:17=1 run set 1 200 set 2 0"
session_b="code1=200 code2=17 ch1 zero mid ch2 full run read get bit:13=1 bit:18=1 run shdn set 1 200 shdn get set 2 0"

# 1. The golden traces, byte for byte; the decoded one without its times. Traces
#    are written as bytes, LF line ends as on Linux.
for p in a b; do
    eval "actions=\$session_$p"
    for ext in log vcd txt; do
        # shellcheck disable=SC2086
        run --program $p --port sim --trace "$work/$p.$ext" $actions >/dev/null 2>"$work/err" || { cat "$work/err"; failed=1; }
    done
    same "golden_${p}_log" "$work/$p.log" "$golden/$p.log"
    same "golden_${p}_vcd" "$work/$p.vcd" "$golden/$p.vcd"
    cut -c13- "$work/$p.txt" >"$work/$p.notimes"
    same "golden_${p}_txt" "$work/$p.notimes" "$golden/$p.txt"
done

# 2. The same sessions through a port DLL of each interface: the writes the sim
#    session makes, in order, and a read of the status register wherever it reads.
for dll in "$dll_w" "$dll_32"; do
    for p in a b; do
        eval "actions=\$session_$p"
        rm -f "$work/port.log"
        # shellcheck disable=SC2086
        PX77XX_PORT_LOG="$work/port.log" PX77XX_PORT_WAIT_MS=0 run --program $p --port "lib:path=$dll" $actions \
            >/dev/null 2>"$work/err" || { cat "$work/err"; failed=1; }
        sed 's/^in 0x379 .*/in 0x379/' "$work/port.log" >"$work/got"
        sed 's/^in 0x379 .*/in 0x379/' "$golden/$p.log" >"$work/want"
        same "lib_$(basename "$dll")_$p" "$work/got" "$work/want"
    done
done

# A PCIe card at other addresses: base= moves the data and status registers
# there, and the session is the golden one moved.
for dll in "$dll_w" "$dll_32"; do
    rm -f "$work/port.log"
    # shellcheck disable=SC2086
    PX77XX_PORT_LOG="$work/port.log" PX77XX_PORT_WAIT_MS=0 run --program b --port "lib:path=$dll,base=0xd010" \
        $session_b >/dev/null 2>"$work/err" || { cat "$work/err"; failed=1; }
    sed 's/^in 0xd011 .*/in 0x379/; s/^out 0xd010 /out 0x378 /' "$work/port.log" >"$work/got"
    sed 's/^in 0x379 .*/in 0x379/' "$golden/b.log" >"$work/want"
    same "lib_base_$(basename "$dll")" "$work/got" "$work/want"
done

# The decoded trace's header says which interface the DLL has.
for pair in "$dll_w:OutportW/InportW" "$dll_32:Out32/Inp32"; do
    dll=${pair%%:*} interface=${pair#*:}
    PX77XX_PORT_WAIT_MS=0 run --port "lib:path=$dll" --trace "$work/which.txt" set 1 5 >/dev/null 2>&1
    want="# lib $(win "$dll"): port library, $interface transfers"
    if [ "$(head -n 1 "$work/which.txt")" = "$want" ]; then echo "ok trace_names_$interface"; else
        printf 'FAIL trace_names_%s: [%s]\n' "$interface" "$(head -n 1 "$work/which.txt")"
        failed=1
    fi
done

# detect lists the port libraries that are there, in the current folder and in
# the program's, with the names each exports, and claims none that is not.
lib_rows() { grep '^lib:' "$work/detect" | sed 's/  */ /'; }
mkdir "$work/empty" "$work/here" "$work/app"
(cd "$work/empty" && run detect) >"$work/detect" 2>&1
same_text() {  # NAME GOT WANT
    if [ "$2" = "$3" ]; then echo "ok $1"; else printf 'FAIL %s:\n  got  [%s]\n  want [%s]\n' "$1" "$2" "$3"; failed=1; fi
}
same_text detect_without_a_port_library "$(lib_rows)" \
    "lib:path=ntport.dll the programs' port library; not usable: ntport.dll is in neither the current folder nor the program's; inpoutx64.dll, which is free and comes with its own signed driver, serves as well: put either beside the program"
cp "$dll_w" "$work/here/ntport.dll"
cp "$dll_none" "$work/here/inpoutx64.dll"
(cd "$work/here" && run detect) >"$work/detect" 2>&1
same_text detect_in_the_current_folder "$(lib_rows)" "lib:path=ntport.dll the port library ntport.dll in the current folder (OutportW/InportW); usable
lib:path=inpoutx64.dll the port library inpoutx64.dll in the current folder; not usable: it exports neither OutportW and InportW nor Out32 and Inp32"
cp "$pxctl" "$work/app/pxctl.exe"
cp "$dll_32" "$work/app/inpoutx64.dll"
(cd "$work/empty" && $wine "$work/app/pxctl.exe" detect) >"$work/detect" 2>&1
same_text detect_in_the_programs_folder "$(lib_rows)" \
    "lib:path=$(win "$work/app")\\inpoutx64.dll the port library inpoutx64.dll in the program's folder (Out32/Inp32); usable"

# The user's default port, set once in %APPDATA%\\px77xx\\settings, and
# PX77XX_PORT over it.
settings=$(run config | sed -n 's/^settings file: //p' | tr -d '\r')
check config_sets_the_port 0 "port = sim:address=0x2d is set in $settings" "" -- config port sim:address=0x2d
check the_default_port_is_used 0 "255" "" -- get
PX77XX_PORT=sim check the_environment_wins 0 "128" "" -- get
check config_clears_it 0 "port is cleared in $settings; now lib:path=ntport.dll (built in)" "" -- config port

# 3. What a Windows user is told.
cd "$work" || exit 1
here=$(win "$work")
# Every port library failure says what to do about it.
choose='; pxctl config port PORT sets the port every Start-menu entry opens, and the entries "on the simulated board" need no hardware'
check default_ntport_absent 1 "" "pxctl: get: not sent: lib $here\\ntport.dll: cannot load: Module not found (put inpoutx64.dll, which is free and comes with its own signed driver, or ntport.dll in $here, or give the whole path: lib:path=C:\\Tools\\inpoutx64.dll$choose) (action 1; 0 ran before it)" -- get
check missing_dll 1 "" "pxctl: get: not sent: lib $here\\absent.dll: cannot load: Module not found (put inpoutx64.dll, which is free and comes with its own signed driver, or ntport.dll in $here, or give the whole path: lib:path=C:\\Tools\\inpoutx64.dll$choose) (action 1; 0 ran before it)" \
    -- --port lib:path=absent.dll get
none=$(win "$dll_none")
check dll_with_neither_interface 1 "" "pxctl: set 1 5: not sent: lib $none: exports neither OutportW nor Out32: Procedure not found (not a port library: inpoutx64.dll and ntport.dll are$choose) (action 1; 0 ran before it)" \
    -- --port "lib:path=$dll_none" set 1 5
check linux_only_backend 2 "" "pxctl: ppdev reaches a Linux kernel driver and exists only on Linux; this build has sim, ftdi, cp2112, mcp2221, lib" \
    -- --port ppdev get
check ftdi_without_ftdis_driver 1 "" "pxctl: get: not sent: ftdi 0: FTDI's D2XX driver is not installed (ftd2xx.dll: Module not found): Windows installs it by itself when an FTDI chip is first plugged in, from Windows Update; or install FTDI's D2XX driver (CDM) from ftdichip.com (action 1; 0 ran before it)" \
    -- --port ftdi:dev=0 get
check bad_trace_path 2 "" "pxctl: trace Z:\\nonexistent\\bus.log: cannot open for writing: No such file or directory" \
    -- --port sim --trace 'Z:\nonexistent\bus.log' get
check file_name_in_any_language 0 "5" "" -- --port sim --trace "$work/трасса-測定.log" set 1 5 get
[ -s "$work/трасса-測定.log" ] && echo "ok file_name_in_any_language_written" ||
    { echo "FAIL file_name_in_any_language_written"; failed=1; }

# A session through a pipe, as on Linux: comments, the first bad line ends it.
printf 'set 1 5 # five\nget\n' | run --port sim - >"$work/out" 2>"$work/err"
status=$?
if [ $status = 0 ] && [ "$(cat "$work/out")" = 5 ] && [ ! -s "$work/err" ]; then echo "ok session"; else
    printf 'FAIL session: status %s [%s] [%s]\n' "$status" "$(cat "$work/out")" "$(cat "$work/err")"
    failed=1
fi

# What is printed is part of the result: a full disk is status 1 with the
# reason, a reader that went away status 1 without a word.
run --port sim get >/dev/full 2>"$work/err"
status=$?
if [ $status = 1 ] && [ "$(cat "$work/err")" = "pxctl: standard output: No space left on device" ]; then
    echo "ok output_to_a_full_disk"
else
    printf 'FAIL output_to_a_full_disk: status %s [%s]\n' "$status" "$(cat "$work/err")"
    failed=1
fi
gets=""
for i in $(seq 3000); do gets="$gets get"; done
# shellcheck disable=SC2086
{ run --port sim $gets 2>"$work/err"; echo $? >"$work/status"; } | head -c 10 >/dev/null
if [ "$(cat "$work/status")" = 1 ] && [ ! -s "$work/err" ]; then echo "ok a_reader_that_went_away"; else
    printf 'FAIL a_reader_that_went_away: status %s [%s]\n' "$(cat "$work/status")" "$(cat "$work/err")"
    failed=1
fi

# 4. Two programs on one DLL: the second is refused, naming the port; the first
#    sends whole frames.
rm -f "$work/shared.log"
actions=""
for c in 1 2 3 4 5 6 7 8 9 10; do actions="$actions set 1 $c"; done
# shellcheck disable=SC2086
PX77XX_PORT_LOG="$work/shared.log" PX77XX_PORT_WAIT_MS=5 run --port "lib:path=$dll_w" $actions >"$work/first.out" 2>&1 &
first=$!
i=0
while [ ! -s "$work/shared.log" ] && [ $i -lt 400 ]; do sleep 0.05; i=$((i + 1)); done
PX77XX_PORT_LOG="$work/shared.log" run --port "lib:path=$dll_w" set 2 7 >"$work/out" 2>"$work/err"
status=$?
wait $first
first_status=$?
lib=$(win "$dll_w")
if [ $status = 1 ] && grep -q "^pxctl: set 2 7: not sent: lib $(printf '%s' "$lib" | sed 's/[\\.]/\\&/g') is in use by another program (pid [0-9]*) (action 1; 0 ran before it)$" "$work/err" &&
    [ $first_status = 0 ] && [ "$(wc -l <"$work/shared.log")" = 590 ]; then
    echo "ok two_programs_on_one_dll"
else
    printf 'FAIL two_programs_on_one_dll: second %s [%s], first %s, %s writes\n' "$status" "$(cat "$work/err")" \
        "$first_status" "$(wc -l <"$work/shared.log")"
    failed=1
fi

# 5. Ctrl-C, as wine delivers it (a SIGINT to the process becomes the console's
#    Ctrl-C event): the frame under way completes, and the message and status
#    are the Linux ones.
rm -f "$work/ctrlc.log"
actions=""
for c in $(seq 1 40); do actions="$actions set 1 $c"; done
# shellcheck disable=SC2086
PX77XX_PORT_LOG="$work/ctrlc.log" PX77XX_PORT_WAIT_MS=5 run --port "lib:path=$dll_w" $actions >"$work/out" 2>"$work/err" &
waiter=$!
i=0
while [ "$(cat "$work/ctrlc.log" 2>/dev/null | wc -l)" -lt 300 ] && [ $i -lt 600 ]; do sleep 0.05; i=$((i + 1)); done
kill -INT "$(pgrep -f "pxctl.exe --port lib:path=$dll_w set 1 1 " | head -1)"
wait $waiter
status=$?
writes=$(wc -l <"$work/ctrlc.log")
frames=$((writes / 59))
if [ $status = 130 ] && [ $((writes % 59)) = 0 ] && [ "$(tail -n 1 "$work/ctrlc.log")" = "out 0x378 0xf3" ] &&
    [ "$(cat "$work/err")" = "pxctl: interrupted by Ctrl-C after action $frames of 40" ]; then
    echo "ok ctrl_c"
else
    printf 'FAIL ctrl_c: status %s, %s writes, [%s]\n' "$status" "$writes" "$(cat "$work/err")"
    failed=1
fi

# 6. The help speaks of Windows alone: no Linux path, device, signal, shell or
#    tool a Windows user could not follow.
run --help >"$work/help" 2>&1
found=""
for word in /dev/ /usr/ /etc/ /run/ '~/' XDG_ ppdev gpio: i2c: io: SIGINT SIGTERM SIGHUP signal sudo systemd \
    plugdev udev libusb lsusb i2cdetect gpiodetect Raspberry kernel Linux Qt terminal '$(seq' 'jq ' ' slash' px77xx-cli; do
    grep -q -F -e "$word" "$work/help" && found="$found [$word]"
done
for word in PowerShell inpoutx64.dll Out32 Inp32 '%APPDATA%' Ctrl-Break pxctl-json.schema.json serve; do
    grep -q -F -e "$word" "$work/help" || found="$found missing[$word]"
done
if [ -z "$found" ]; then echo "ok help_speaks_windows"; else echo "FAIL help_speaks_windows:$found"; failed=1; fi

exit $failed
