#!/bin/sh
# Program B's Win32 window as the system treats it, under wine on a display of
# its own: a fixed-size window without a maximise box, centred, its client
# area the table's size at 96 and at 120 dots per inch, tool tips on the
# buttons that have one; the close box and the session's end act as E&xit,
# between two frames, with the trace written whole.
# Usage: window_events_under_wine.sh PROGRAM.EXE GEOMETRY.EXE PROBE.EXE WINE...
set -u
program=$1 geometry_tool=$2 probe=$3
shift 3
wine="$*"
work=$(mktemp -d)
xvfb= app=
cleanup() {
    [ -n "$app" ] && kill "$app" 2>/dev/null
    $wine reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d 96 /f >/dev/null 2>&1
    [ -n "$xvfb" ] && kill "$xvfb" 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT
failed=0
ok() { echo "ok $1"; }
fail() { echo "FAIL $1"; failed=1; }

. "$(dirname "$0")/../ui/display.sh"
start_display
geometry=$work/geometry
$wine "$geometry_tool" b | tr -d '\r' >"$geometry"

# Its help speaks of the Win32 window: no Qt, Windows' ports.
$wine "$program" --help >"$work/help" 2>&1
if ! grep -q Qt "$work/help" && grep -q 'lib:path=inpoutx64.dll' "$work/help" && grep -q 'close box' "$work/help"; then
    ok "--help describes the Win32 window"
else
    fail "--help:"; cat "$work/help"
fi

start() {  # ARGS...: the window on the simulated board, tracing
    $wine "$program" --port sim --trace "$work/trace.txt" "$@" >"$work/out" 2>&1 &
    app=$!
    wait_window PX7702_RevA
}
ended() {  # NAME: the program ended by itself, status 0, its trace whole
    for _ in $(seq 100); do kill -0 "$app" 2>/dev/null || break; sleep 0.1; done
    if kill -0 "$app" 2>/dev/null; then fail "$1: the window is still open"; kill "$app"; app=; return; fi
    wait "$app"
    status=$?
    app=
    [ "$status" = 0 ] && ok "$1: the program ended, status 0" || fail "$1: status $status"
    cut -c13- "$work/trace.txt" | grep -q '^code1=1 .*channel 1 <- 1$' && ok "$1: the trace is whole" ||
        { fail "$1: the trace:"; cat "$work/trace.txt"; }
}
arrow_down_code1() {
    place vsbInputCode1
    xdotool mousemove --window "$win" "$X" $((T + H - 4)) click 1
    sleep 0.5
}

# The window at two DPIs: the client area is the table's 10800 x 7410 twips.
for dpi in 96:720x494 120:900x618; do
    $wine reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "${dpi%%:*}" /f >/dev/null 2>&1
    start
    $wine "$probe" window PX7702_RevA 2>/dev/null | tr -d '\r' >"$work/window"
    $wine "$probe" send PX7702_RevA close >/dev/null 2>&1
    wait "$app" 2>/dev/null
    app=
    printf '%s\n' "client: ${dpi#*:}" "maximise box: no" "sizing border: no" "centred: yes" "tool tips: 4" >"$work/want"
    if cmp -s "$work/want" "$work/window"; then ok "at ${dpi%%:*} dpi: $(tr '\n' ',' <"$work/window")"; else
        fail "at ${dpi%%:*} dpi:"; diff "$work/want" "$work/window"
    fi
done
$wine reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d 96 /f >/dev/null 2>&1

start
arrow_down_code1
$wine "$probe" send PX7702_RevA close >/dev/null 2>&1
ended "the close box"

start
arrow_down_code1
agreed=$($wine "$probe" send PX7702_RevA endsession 2>/dev/null | tr -d '\r')
[ "$agreed" = "agrees to end: yes" ] && ok "the session's end: the window agrees" || fail "the session's end: [$agreed]"
ended "the session's end"
exit $failed
