#!/bin/sh
# One scenario's verdict from the guest's console: result.sh CONSOLE_LOG NAME
log="$1"; name="$2"
[ -r "$log" ] || { echo "no console log: the VM did not run"; exit 1; }
grep -E "^VMCHECK $name |^VMTEST $name " "$log" | sed 's/^/  /'
grep -A4 "^VMCHECK $name FAIL" "$log" | grep '^  ' || true
grep -q "^VMTEST $name PASS" "$log"
