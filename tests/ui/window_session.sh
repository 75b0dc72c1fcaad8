#!/bin/sh
# Drives one window through a fixed session with xdotool, on a display of its
# own (Xvfb, 96 dots per inch, no window manager: the X window is the client
# area), clicking where the window's tables put each control, and compares the
# window's --trace, without its times, with the expected one. Both views run
# the same sessions against the same expected traces: the Qt window on Linux
# and the Win32 window under wine.
# Usage: window_session.sh STEPS EXPECTED KEY GEOMETRY_TOOL PROGRAM -- LAUNCHER...
#   STEPS          the session (tests/ui/sessions/*.steps)
#   EXPECTED       its trace; with UPDATE=1 it is written instead of compared
#   KEY            a or b, the program
#   GEOMETRY_TOOL  view_geometry, which prints where the tables put each control
#   PROGRAM        the window program; "--port sim --trace FILE" is added
#   LAUNCHER       what runs both (wine; env QT_QPA_PLATFORM=xcb)
set -u
steps=$1 want=$2 key=$3 geometry_tool=$4 program=$5
shift 6
work=$(mktemp -d)
xvfb=
app=
cleanup() {
    [ -n "$app" ] && kill "$app" 2>/dev/null
    [ -n "$xvfb" ] && kill "$xvfb" 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT

. "$(dirname "$0")/display.sh"
start_display

geometry=$work/geometry
"$@" "$geometry_tool" "$key" | tr -d "\r" >"$geometry" && [ -s "$geometry" ] || { echo "FAIL: $geometry_tool $key"; exit 1; }
if [ "$key" = a ]; then title=PX7700_02_RevA; else title=PX7702_RevA; fi
"$@" "$program" --port sim --trace "$work/trace.txt" >"$work/out" 2>&1 &
app=$!
wait_window "$title" || { echo "FAIL: no window titled $title appeared"; cat "$work/out"; exit 1; }
xdotool windowfocus "$win" 2>/dev/null
sleep 0.5

at() { xdotool mousemove --window "$win" "$1" "$2" click 1; }

while read -r verb name index; do
    case "$verb" in
        ''|'#'*) continue ;;
        arrow-down) place "$name" $index; at "$X" $((T + H - 4)) ;;
        arrow-up) place "$name" $index; at "$X" $((T + 4)) ;;
        page-down) place "$name" $index; at "$X" $((T + H * 2 / 3)) ;;
        # The thumb, near the top of the track, dragged past the bar's end: the
        # end is the same value whatever size each toolkit draws the thumb.
        drag-to-end)
            place "$name" $index
            xdotool mousemove --window "$win" "$X" $((T + 25)) mousedown 1
            sleep 0.2
            for y in $((T + H / 2)) $((T + H)) $((T + H + 30)); do
                xdotool mousemove --window "$win" "$X" "$y"
                sleep 0.2
            done
            xdotool mouseup 1
            ;;
        click) place "$name" $index; at "$X" $((T + H / 2)) ;;
        key) xdotool key "$name" ;;
        *) echo "FAIL: $steps: no step $verb"; exit 1 ;;
    esac
    sleep 0.4
done <"$steps"

# The session ends with Exit: the program ends by itself, its trace whole.
for _ in $(seq 200); do kill -0 "$app" 2>/dev/null || break; sleep 0.1; done
if kill -0 "$app" 2>/dev/null; then
    echo "FAIL: the window is still open after the session"; exit 1
fi
wait "$app"
status=$?
app=
[ "$status" = 0 ] || { echo "FAIL: exit status $status"; cat "$work/out"; exit 1; }
cut -c13- "$work/trace.txt" >"$work/got"
if [ "${UPDATE:-0}" = 1 ]; then
    cp "$work/got" "$want"
    echo "wrote $want"
    exit 0
fi
if cmp -s "$work/got" "$want"; then
    echo "ok: $(wc -l <"$want") trace lines as expected"
else
    echo "FAIL: the trace differs from $want:"
    diff "$want" "$work/got" | head -40
    exit 1
fi
