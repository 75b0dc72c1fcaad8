#!/bin/sh
# Starts or stops a wineserver that stays for a wine prefix while its tests run.
# The server a wine program starts for itself ends a moment after the last
# program exits, taking wine's own services with it: the next program starts
# them all again, and now and then connects as the server is closing and dies
# at once ("wine client error:0: recvmsg: Connection reset by peer"; 3 in 300
# programs run one after another here). With a server that stays, none did,
# and the same 300 ran in a third of the time.
# Usage: wineserver.sh start|stop PREFIX
WINEPREFIX=$2
export WINEPREFIX
wineserver -k 2>/dev/null
wineserver -w 2>/dev/null
# Started in the background, away from the test's output, which ctest reads
# until every writer has closed it.
[ "$1" = start ] && exec wineserver -p >/dev/null 2>&1
exit 0
