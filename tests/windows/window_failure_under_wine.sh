#!/bin/sh
# Program B's Win32 window on a port library that fails (a DLL that throws at a
# chosen write or read), under wine on a display of its own: the message box
# comes after the event, as a modal box owned by the window; it names the
# control by its caption and says which of the three things reached the port;
# the title carries the mark until the next action completes; the window stays
# open and that next action reaches the port. A held arrow stops repeating at
# the failure, though the button is still down behind the box.
# Usage: window_failure_under_wine.sh PROGRAM.EXE GEOMETRY.EXE PROBE.EXE FAILING.DLL WINE...
set -u
program=$1 geometry_tool=$2 probe=$3 dll=$4
shift 4
wine="$*"
work=$(mktemp -d)
xvfb= app=
cleanup() {
    [ -n "$app" ] && kill "$app" 2>/dev/null
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
port_title="PX7702_RevA — lib $($wine winepath -w "$dll" 2>/dev/null | tr -d '\r')"

press() {  # VERB CONTROL: a click on a button, or on a code bar's lower arrow
    place "$2"
    if [ "$1" = arrow-down ]; then y=$((T + H - 4)); else y=$((T + H / 2)); fi
    xdotool mousemove --window "$win" "$X" "$y" click 1
}
title() { $wine "$probe" title PX7702_RevA 2>/dev/null | tr -d '\r'; }

# case NAME FAULT VERB CONTROL MARK SENTENCE
case_() {
    name=$1 fault=$2 verb=$3 control=$4 mark=$5 sentence=$6
    PX77XX_PORT_FAULT=$fault PX77XX_PORT_WAIT_MS=0 $wine "$program" --port "lib:path=$dll" >"$work/out" 2>&1 &
    app=$!
    wait_window PX7702_RevA || { fail "$name: no window"; return; }
    press "$verb" "$control"
    $wine "$probe" dialog "port error" 15000 2>/dev/null | tr -d '\r' >"$work/dialog"
    printf '%s\n' "dialog: PX7702_RevA — port error" "owner: $port_title — $mark" "owner disabled: yes" >"$work/want"
    if head -3 "$work/dialog" | cmp -s - "$work/want"; then ok "$name: a modal box titled as the window, the title marked $mark"; else
        fail "$name: the box and its owner:"; diff "$work/want" "$work/dialog"
    fi
    grep -qxF "$sentence" "$work/dialog" && ok "$name: it says [$sentence]" ||
        { fail "$name: no line [$sentence] in:"; cat "$work/dialog"; }
    grep -q "^text: lib .*: the port library threw in .*: cable unplugged (the port library failed: its driver may not be installed; InpOut32 installs its own the first time a program uses it as administrator)$" "$work/dialog" &&
        ok "$name: it names the port and the reason" || { fail "$name: the reason:"; cat "$work/dialog"; }
    [ "$(title)" = "$port_title — $mark" ] && ok "$name: the mark stays once the box is closed" ||
        fail "$name: title after the box [$(title)]"
    press click cmdZS
    sleep 1
    [ "$(title)" = "$port_title" ] && ok "$name: the next action reaches the port and the mark goes" ||
        fail "$name: title after the next action [$(title)]"
    press click cmdExit
    for _ in $(seq 100); do kill -0 "$app" 2>/dev/null || break; sleep 0.1; done
    if kill -0 "$app" 2>/dev/null; then fail "$name: Exit left the window open"; kill "$app"; else ok "$name: Exit ends it"; fi
    wait "$app" 2>/dev/null
    app=
}

# An arrow held down: the first frame fails; with the box closed and the button
# still down for a while, no repeat reaches the port (one would take the mark
# away, since only the first write fails).
PX77XX_PORT_FAULT=throw:1 PX77XX_PORT_WAIT_MS=0 $wine "$program" --port "lib:path=$dll" >"$work/out" 2>&1 &
app=$!
wait_window PX7702_RevA || fail "held arrow: no window"
place vsbInputCode1
xdotool mousemove --window "$win" "$X" $((T + H - 4)) mousedown 1
$wine "$probe" dialog "port error" 15000 >/dev/null 2>&1
sleep 1.5
[ "$(title)" = "$port_title — not sent" ] && ok "held arrow: no repeat after the failure" ||
    fail "held arrow: title [$(title)] after holding on"
xdotool mouseup 1
sleep 0.5
[ "$(title)" = "$port_title — not sent" ] && ok "held arrow: the release sends nothing" ||
    fail "held arrow: title [$(title)] after the release"
kill "$app"
wait "$app" 2>/dev/null
app=

case_ not_sent throw:1 arrow-down vsbInputCode1 "not sent" \
    "The channel 1 code bar, at 1, stopped at the failing port access: its frame was not sent. The next action tries the port again."
case_ cut_short throw:5 click cmdMS "cut short" \
    "Mid Scale stopped at the failing port access: it was cut short after 4 of 59 writes. The next action tries the port again."
case_ read_back read:1 click cmdRead "read-back failed" \
    "Read stopped at the failing port access: its frame was written; the read-back failed. The next action tries the port again."
exit $failed
