#!/bin/sh
# The port chooser's Win32 window under wine, as a Windows user meets it: from
# the Start menu's "Choose the port…" (--choose-port), chosen with the keyboard,
# after which the window opens on the port and later starts open on it; tested
# and closed with the mouse, choosing nothing; and opened from the failure
# dialog's "Choose the port…" button.
# Usage: chooser_under_wine.sh PROGRAM.EXE PROBE.EXE FAILING.DLL [SCREENSHOT] -- WINE...
set -u
program=$1 probe=$2 dll=$3 shot=$4
shift 5
wine="$*"
work=$(mktemp -d)
xvfb= app=
cleanup() {
    [ -n "$app" ] && kill "$app" 2>/dev/null
    $wine cmd /c del "%APPDATA%\\px77xx\\settings" >/dev/null 2>&1
    [ -n "$xvfb" ] && kill "$xvfb" 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT
failed=0
ok() { echo "ok $1"; }
fail() { echo "FAIL $1"; failed=1; }
. "$(dirname "$0")/../ui/display.sh"
start_display
settings() { $wine cmd /c type "%APPDATA%\\px77xx\\settings" 2>/dev/null | tr -d '\r'; }
$wine cmd /c del "%APPDATA%\\px77xx\\settings" >/dev/null 2>&1

# 1. The keyboard: the last port (the simulated board), Test, Use this port.
$wine "$program" --choose-port >"$work/out" 2>&1 &
app=$!
wait_window "Choose the port" && ok "the chooser opens" || { fail "no chooser: $(cat "$work/out")"; exit 1; }
chooser=$win
xdotool key --window "$chooser" End
sleep 0.3
xdotool key --window "$chooser" alt+t
sleep 1
[ "$shot" != - ] && import -window "$chooser" "$shot"
xdotool key --window "$chooser" alt+u
wait_window "PX7702_RevA — sim" && ok "the window opens on the port chosen" || fail "no window on sim: $(cat "$work/out")"
[ "$(settings)" = "port = sim" ] && ok "the choice is saved in %APPDATA%" || fail "settings [$(settings)]"
kill "$app" 2>/dev/null; wait "$app" 2>/dev/null; app=
$wine "$program" >"$work/out" 2>&1 &
app=$!
wait_window "PX7702_RevA — sim" && ok "the next window opens on it" || fail "the next window: $(cat "$work/out")"
kill "$app" 2>/dev/null; wait "$app" 2>/dev/null; app=

# 2. The mouse: Test on the saved port, then Close, which chooses nothing and
#    opens no window.
$wine "$program" --choose-port >"$work/out" 2>&1 &
app=$!
wait_window "Choose the port" || fail "no chooser the second time"
chooser=$win
xdotool mousemove --window "$chooser" 70 354 click 1   # Test (12..128, 340..368)
sleep 1
xdotool mousemove --window "$chooser" 452 354 click 1  # Close (396..508)
i=0
while kill -0 "$app" 2>/dev/null && [ $i -lt 100 ]; do sleep 0.1; i=$((i + 1)); done
if kill -0 "$app" 2>/dev/null; then fail "Close left the program running"; else
    wait "$app"; [ $? = 0 ] && ok "Close ends it, choosing nothing" || fail "Close: status"; fi
app=
[ "$(settings)" = "port = sim" ] && ok "the saved port is unchanged" || fail "settings after Close [$(settings)]"

# 3. The failure dialog's "Choose the port…" opens the chooser.
PX77XX_PORT_FAULT=throw:1 PX77XX_PORT_WAIT_MS=0 $wine "$program" --port "lib:path=$dll" >"$work/out" 2>&1 &
app=$!
wait_window PX7702_RevA || fail "no window on the failing port"
main=$win
xdotool key --window "$main" Down  # the first code bar has the focus: a step
$wine "$probe" dialog "port error" 15000 "&Choose the port…" 2>/dev/null | tr -d '\r' >"$work/dialog"
grep -qxF "button: &Choose the port…" "$work/dialog" && ok "the failure dialog offers the chooser" ||
    { fail "no Choose the port… button:"; cat "$work/dialog"; }
wait_window "Choose the port" && ok "its button opens the chooser" || fail "the button opened no chooser"
xdotool key --window "$win" Escape
kill "$app" 2>/dev/null; wait "$app" 2>/dev/null; app=
exit $failed
