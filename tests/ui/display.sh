# What the tests that drive windows through X share (sourced): a display of
# their own, waiting for a window, and where the tables put a control.
# The caller sets work (a scratch directory) and, for place, geometry.

# start_display: an Xvfb at 96 dots per inch, 1024x768; sets DISPLAY and xvfb.
start_display() {
    Xvfb -displayfd 3 -screen 0 1024x768x24 -dpi 96 -nolisten tcp 3>"$work/display" 2>/dev/null &
    xvfb=$!
    for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.1; done
    DISPLAY=:$(cat "$work/display")
    export DISPLAY
}

# wait_window TITLE: sets win to the first visible window whose title starts
# with TITLE, once it has had a second to draw; fails after a minute.
wait_window() {
    win=
    for _ in $(seq 600); do
        win=$(xdotool search --onlyvisible --name "^$1" 2>/dev/null | head -1)
        if [ -n "$win" ]; then sleep 1; return 0; fi
        sleep 0.1
    done
    return 1
}

# place NAME [INDEX]: sets L T W H, a control's place in the window's pixels as
# view_geometry printed them into $geometry, and X, its middle column.
place() {
    line=$(awk -v n="$1" -v i="${2:--1}" '$1 == n && $2 == i { print $3, $4, $5, $6 }' "$geometry")
    [ -n "$line" ] || { echo "FAIL: no control $1 ${2:-} in $geometry"; exit 1; }
    # shellcheck disable=SC2086
    set -- $line
    L=$1 T=$2 W=$3 H=$4 X=$(($1 + $3 / 2))
}
