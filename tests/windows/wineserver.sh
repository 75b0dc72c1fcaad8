#!/bin/sh
# Starts or stops a wineserver that stays for a wine prefix while its tests run.
# The server a wine program starts for itself ends a moment after the last
# program exits, taking wine's own services with it: the next program starts
# them all again, and now and then connects as the server is closing and dies
# at once ("wine client error:0: recvmsg: Connection reset by peer"; 3 in 300
# programs run one after another here). With a server that stays, none did,
# and the same 300 ran in a third of the time.
# boot also starts wine's services, which stay with the server: started by a
# test's program instead, they would hold that test's output open, and ctest
# waits for every writer to close it. Not for a prefix whose tests show windows:
# the services would start a desktop there with no display to hold windows.
# Usage: wineserver.sh start|boot|stop PREFIX
WINEPREFIX=$2 WINEDEBUG=-all WINEDLLOVERRIDES=mscoree,mshtml,winemenubuilder.exe=
export WINEPREFIX WINEDEBUG WINEDLLOVERRIDES
wineserver -k 2>/dev/null
wineserver -w 2>/dev/null
[ "$1" = stop ] && exit 0
# In the background, away from the test's output too.
wineserver -p >/dev/null 2>&1 || exit 1
[ "$1" = boot ] && { wine cmd.exe /c exit </dev/null >/dev/null 2>&1 || exit 1; }
exit 0
