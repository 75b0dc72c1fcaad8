#!/bin/sh
# Runs one test of the Win32 windows, or of the installer, in one of the wine
# prefixes kept for them, with no wine process of an earlier test left in it
# and a wineserver that stays while it runs (wineserver.sh), and ends the
# prefix's processes afterwards. wine starts one desktop per prefix, on the
# display of the first program that needs it; one started without a display
# (a silent installer, a console program) cannot hold windows, and one left on
# another test's display dies with it. The tests that use a prefix take turns.
# Usage: gui_test.sh PREFIX COMMAND...
prefix=$1
shift
here=$(dirname "$0")
sh "$here/wineserver.sh" start "$prefix" || exit 1
"$@"
status=$?
sh "$here/wineserver.sh" stop "$prefix"
exit $status
