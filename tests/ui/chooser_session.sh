#!/bin/sh
# The port chooser as a user meets it from the desktop action: the program
# started with --choose-port shows the chooser; the keyboard takes the last
# port listed (the simulated board), tests it and chooses it; the choice is
# saved in the user's settings and the window opens on it. Then the window
# opens on the saved port by itself.
#   chooser_session.sh PROGRAM [SCREENSHOT]   (under an X server: with_xvfb.sh)
set -u
program=$1 shot=${2:-}
home=$(mktemp -d)
trap 'kill $pid 2>/dev/null; rm -rf "$home"' EXIT
export XDG_CONFIG_HOME="$home"
unset PX77XX_PORT
failed=0
ok() { echo "ok $1"; }
fail() { echo "FAIL $1"; failed=1; }
# waitfor NAME: the id of the first window titled NAME, within 20 s.
waitfor() {
    i=0
    while [ $i -lt 200 ]; do
        id=$(xdotool search --name "$1" 2>/dev/null | head -1)
        [ -n "$id" ] && { echo "$id"; return 0; }
        sleep 0.1
        i=$((i + 1))
    done
    return 1
}

"$program" --choose-port >"$home/out" 2>&1 &
pid=$!
chooser=$(waitfor "^Choose the port$") && ok "the chooser opens" || { fail "no chooser: $(cat "$home/out")"; exit 1; }
xdotool windowactivate --sync "$chooser" 2>/dev/null || xdotool windowfocus --sync "$chooser"
xdotool key --window "$chooser" End alt+t
sleep 0.5
[ -n "$shot" ] && import -window "$chooser" "$shot"
xdotool key --window "$chooser" alt+u
window=$(waitfor " — sim$") && ok "the window opens on the port chosen" || fail "no window on sim: $(cat "$home/out")"
grep -qx "port = sim" "$home/px77xx/settings" && ok "the choice is saved" || fail "settings: $(cat "$home/px77xx/settings" 2>&1)"
kill $pid 2>/dev/null
wait $pid 2>/dev/null

# The next start, without --port, opens the saved port.
"$program" >"$home/out" 2>&1 &
pid=$!
waitfor " — sim$" >/dev/null && ok "the next window opens on it" || fail "the next window: $(cat "$home/out")"
exit $failed
