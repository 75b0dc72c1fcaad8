#!/bin/sh
# The Windows installer and portable archive, under wine: a silent install into
# Program Files, the files and the "Apps & features" entry it leaves, pxctl.exe
# run from there, and a silent uninstall that takes everything away.
# Usage: installer_under_wine.sh SETUP.EXE ARCHIVE.ZIP VERSION WINE...
set -u
setup=$1 archive=$2 version=$3
shift 3
wine="$*"
failed=0
key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\px77xx'
ok() { echo "ok $1"; }
fail() { echo "FAIL $1"; failed=1; }

$wine "$setup" /S && ok "silent install" || fail "silent install: status $?"
dir=$($wine winepath -u 'C:\Program Files\px77xx' 2>/dev/null)
for file in pxctl.exe README.txt LICENSE.txt uninstall.exe; do
    [ -f "$dir/$file" ] && ok "installed $file" || fail "not installed: $dir/$file"
done
entry=$($wine reg query "$key" 2>/dev/null | tr -d '\r')
for want in "DisplayName    REG_SZ    px77xx" "DisplayVersion    REG_SZ    $version" \
            "Publisher    REG_SZ    px77xx developers" "QuietUninstallString    REG_SZ" "EstimatedSize    REG_DWORD"; do
    echo "$entry" | grep -q "$want" && ok "uninstall entry: $want" || fail "uninstall entry lacks [$want]: $entry"
done
got=$($wine 'C:\Program Files\px77xx\pxctl.exe' --port sim set 1 5 get 2>&1 | tr -d '\r')
[ "$got" = 5 ] && ok "pxctl.exe runs where it was installed" || fail "installed pxctl.exe printed [$got]"

# The uninstaller copies itself away and returns at once; wait for it.
$wine 'C:\Program Files\px77xx\uninstall.exe' /S
tries=0
while [ -e "$dir" ] && [ $tries -lt 60 ]; do sleep 0.5; tries=$((tries + 1)); done
[ -e "$dir" ] && fail "uninstall left $dir: $(ls "$dir")" || ok "silent uninstall removed the folder"
$wine reg query "$key" >/dev/null 2>&1 && fail "uninstall left the registry entry" || ok "uninstall removed the entry"

listing=$(unzip -Z1 "$archive" | sort | tr '\n' ' ')
[ "$listing" = "LICENSE.txt README.txt pxctl.exe " ] && ok "portable archive" || fail "archive holds [$listing]"
exit $failed
