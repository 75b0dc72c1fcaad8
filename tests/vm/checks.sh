# What the VM's scenario scripts share: the check and its verdict, running as
# another user, loading modules, and reading the simulated board's traces.

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

# The pin changes a .log trace's register writes make (tests/support/line_states.awk).
line_states() { awk -f /line_states.awk "$1"; }

# The transactions a decoded trace shows, as the adapters' models log their
# engines' ("w 2c 00 4d", "r 2c 4d").
transactions() {
    awk '{ k = $3 == "write" ? "w" : "r"; line = k " " substr($4, 3)
           for (i = 5; i <= NF; i++) { if ($i ~ /^[0-9a-f][0-9a-f]$/) line = line " " $i; else if ($i !~ /^ack/) break }
           print line }' "$1"
}

