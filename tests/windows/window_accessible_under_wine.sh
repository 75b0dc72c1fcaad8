#!/bin/sh
# What the Win32 windows tell a screen reader: each control with a name of its
# own gets the name and description the tables give (view_geometry
# --accessible prints them), set on the system's control by Dynamic Annotation
# (IAccPropServices::SetHwndPropStr). wine 8 accepts the calls without acting
# on them, and logs each with its window, property and text: the log is what
# this test reads. On Windows, Active Accessibility and UI Automation clients
# read the same annotations.
# Usage: window_accessible_under_wine.sh PROGRAM.EXE KEY GEOMETRY.EXE WINE...
set -u
program=$1 key=$2 geometry_tool=$3
shift 3
work=$(mktemp -d)
xvfb=
trap '[ -n "$xvfb" ] && kill "$xvfb" 2>/dev/null; rm -rf "$work"' EXIT
. "$(dirname "$0")/../ui/display.sh"
start_display

"$@" "$geometry_tool" --accessible "$key" | tr -d '\r' | sort >"$work/want"
# The launcher quiets wine (WINEDEBUG=-all): here the annotations' log is asked for instead.
for word in "$@"; do
    case "$word" in WINEDEBUG=*) word=WINEDEBUG=fixme+oleacc ;; esac
    set -- "$@" "$word"
    shift
done
"$@" "$program" --port sim --exit-when-shown 2>"$work/log" >/dev/null
status=$?
[ "$status" = 0 ] || { echo "FAIL: $program exited with $status"; cat "$work/log"; exit 1; }
# ... SetHwndPropStr (HWND 4294967292 0 {PROPID} L"text"): name and description per window.
name='{608d3df8-8128-4aa7-a428-f55e49267291}'
description='{4d48dfe4-bd3f-491f-a648-492d6f20c588}'
sed -n 's/.*SetHwndPropStr (\([0-9A-F]*\) [0-9]* [0-9]* \({[-0-9a-f]*}\) L"\(.*\)")$/\1 \2 \3/p' "$work/log" |
    awk -v n="$name" -v d="$description" '
        { hwnd = $1; prop = $2; $1 = ""; $2 = ""; text = substr($0, 3)
          if (prop == n) names[hwnd] = text; else if (prop == d) descriptions[hwnd] = text }
        END { for (h in names) print names[h] "\t" descriptions[h] }' | sort >"$work/got"
if [ ! -s "$work/got" ]; then echo "FAIL: no annotations were set"; head -20 "$work/log"; exit 1; fi
if cmp -s "$work/want" "$work/got"; then
    echo "ok: $(wc -l <"$work/want") controls named and described as the tables say"
else
    echo "FAIL: the annotations differ from the tables:"
    diff "$work/want" "$work/got" | head -20
    exit 1
fi
