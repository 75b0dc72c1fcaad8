#!/bin/sh
# The Windows installer and portable archive, under wine: a silent install into
# Program Files, the files, Start-menu entries and "Apps & features" entry it
# leaves, pxctl.exe run from there, the Windows user's guide as its README,
# and a silent uninstall that has taken everything away when it returns.
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
for file in px7700_02_reva.exe px7702_reva.exe pxctl.exe pxctl-json.schema.json README.txt LICENSE.txt uninstall.exe \
    uninstall-core.exe; do
    [ -f "$dir/$file" ] && ok "installed $file" || fail "not installed: $dir/$file"
done
entry=$($wine reg query "$key" 2>/dev/null | tr -d '\r')
for want in "DisplayName    REG_SZ    px77xx" "DisplayVersion    REG_SZ    $version" \
            "Publisher    REG_SZ    px77xx developers" "QuietUninstallString    REG_SZ" "EstimatedSize    REG_DWORD"; do
    echo "$entry" | grep -q "$want" && ok "uninstall entry: $want" || fail "uninstall entry lacks [$want]: $entry"
done
got=$($wine 'C:\Program Files\px77xx\pxctl.exe' --port sim set 1 200 get 2>&1 | tr -d '\r')
[ "$got" = 200 ] && ok "pxctl.exe runs where it was installed" || fail "installed pxctl.exe printed [$got]"
got=$($wine 'C:\Program Files\px77xx\px7702_reva.exe' --version 2>&1 | tr -d '\r')
[ "$got" = "px7702_reva $version" ] && ok "px7702_reva.exe runs where it was installed" || fail "installed px7702_reva.exe printed [$got]"

# The README is the Windows user's guide: no build steps, no Linux.
readme="$dir/README.txt"
head -1 "$readme" | grep -q "^# px77xx for Windows" && ok "README.txt is the Windows guide" || fail "README.txt starts [$(head -1 "$readme")]"
for word in cmake sudo apt-get ppdev /dev/ 'docs/' '.png' 'Linux'; do
    grep -q -F -e "$word" "$readme" && fail "README.txt mentions $word"
done
for topic in "Choose the port" "%APPDATA%" "inpoutx64.dll" "base=" "pxctl serve" "uninstall.exe"; do
    grep -q -F -e "$topic" "$readme" || fail "README.txt lacks $topic"
done
grep -q "$(printf '\r')$" "$readme" && ok "README.txt has Windows line ends" || fail "README.txt has Unix line ends"

# The Start menu of all users: each program, and each on the simulated board.
menu=$($wine winepath -u 'C:\ProgramData\Microsoft\Windows\Start Menu\Programs\px77xx' 2>/dev/null)
for entry in "PX7700_02 RevA:px7700_02_reva.exe:" "PX7700_02 RevA on the simulated board:px7700_02_reva.exe:--port sim" \
             "PX7702 RevA:px7702_reva.exe:" "PX7702 RevA on the simulated board:px7702_reva.exe:--port sim" \
             "Choose the port…:px7702_reva.exe:--choose-port"; do
    name=${entry%%:*} rest=${entry#*:}
    target=${rest%%:*} arguments=${rest#*:}
    link="$menu/$name.lnk"
    # A shell link holds its target and arguments in UTF-16.
    text=$(tr -d '\000' <"$link" 2>/dev/null)
    if [ ! -f "$link" ]; then fail "no Start-menu entry $name"
    elif ! echo "$text" | grep -q "$target"; then fail "Start-menu entry $name does not start $target"
    elif [ -n "$arguments" ] && ! echo "$text" | grep -q -- "$arguments"; then fail "Start-menu entry $name lacks $arguments"
    elif [ -z "$arguments" ] && echo "$text" | grep -q -- "--"; then fail "Start-menu entry $name has arguments"
    else ok "Start-menu entry $name"; fi
done

# wine's menu builder is off: a test's install leaves the host's own menus alone.
merged="${XDG_CONFIG_HOME:-$HOME/.config}/menus/applications-merged"
ls "$merged" 2>/dev/null | grep -q px77xx && fail "the host's menus got the entries: $merged" || ok "host menus untouched"

# The silent uninstall has removed everything when it returns, and leaves no
# folder of its own (nor NSIS's ~nsu*.tmp) in %TEMP%.
temp=$($wine cmd /c echo %TEMP% 2>/dev/null | tr -d '\r')
temp_unix=$($wine winepath -u "$temp" 2>/dev/null)
folders() { (cd "$temp_unix" 2>/dev/null && ls -d ~nsu*.tmp px77xx-uninstall-* 2>/dev/null | grep -v '\.exe$'); }
before=$(folders)
$wine 'C:\Program Files\px77xx\uninstall.exe' /S && ok "silent uninstall: status 0" || fail "silent uninstall: status $?"
[ -e "$dir" ] && fail "uninstall returned with $dir left: $(ls "$dir")" || ok "silent uninstall removed the folder before it returned"
left=$(folders | if [ -n "$before" ]; then grep -v -x -F "$before"; else cat; fi)
[ -z "$left" ] && ok "no temporary folder left" || fail "left in %TEMP%: $left"
$wine reg query "$key" >/dev/null 2>&1 && fail "uninstall left the registry entry" || ok "uninstall removed the entry"
[ -e "$menu" ] && fail "uninstall left the Start-menu folder: $(ls "$menu")" || ok "uninstall removed the Start-menu entries"

listing=$(unzip -Z1 "$archive" | sort | tr '\n' ' ')
[ "$listing" = "LICENSE.txt README.txt px7700_02_reva.exe px7702_reva.exe pxctl-json.schema.json pxctl.exe " ] && ok "portable archive" || fail "archive holds [$listing]"
exit $failed
