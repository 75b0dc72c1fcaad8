#!/bin/sh
# Runs one test of the Win32 windows, or of the installer, in the wine prefix
# kept for them, with no wine process of an earlier test left in it, and ends
# the prefix's processes afterwards. wine starts one desktop per prefix, on the display of the first
# program that needs it; one started without a display (a silent installer, a
# console program) cannot hold windows, and one left on another test's display
# dies with it. The tests that use this prefix take turns.
# Usage: gui_test.sh PREFIX COMMAND...
prefix=$1
shift
WINEPREFIX=$prefix wineserver -k 2>/dev/null
WINEPREFIX=$prefix wineserver -w 2>/dev/null
"$@"
status=$?
WINEPREFIX=$prefix wineserver -k 2>/dev/null
WINEPREFIX=$prefix wineserver -w 2>/dev/null
exit $status
