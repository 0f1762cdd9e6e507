#!/bin/sh
# Checks that Dorvale.dll exports exactly the installer's four entry points,
# undecorated, at their fixed ordinals, and nothing else.
# Environment: OBJDUMP (the target's objdump), BIN (the build's bin folder).
set -eu
dll="${1:-$BIN/Dorvale.dll}"
[ -f "$dll" ] || { echo "missing $dll"; exit 1; }

dump=$("$OBJDUMP" -p "$dll")

# ordinal = base + index in the name table listing
actual=$(printf '%s\n' "$dump" | awk '
    /^Ordinal Base/ { base = $3 }
    /^\[Ordinal\/Name Pointer\] Table/ { names = 1; next }
    names && /^[ \t]*\[ *[0-9]+\]/ {
        line = $0
        sub(/^[ \t]*\[ */, "", line)
        index_ = line; sub(/\].*/, "", index_)
        name = line;   sub(/^[0-9]+\] */, "", name)
        print index_ + base, name
        next
    }
    names { names = 0 }
' | sort -n)
expected='1 Install_Exit
2 Install_Init
3 Uninstall_Exit
4 Uninstall_Init'

slots=$(printf '%s\n' "$dump" | awk '/^\tExport Address Table/ { print $NF + 0; exit }')
library=$(printf '%s\n' "$dump" | awk '/^Name[ \t]/ { print $NF; exit }')

status=0
if [ "$actual" != "$expected" ]; then
    echo "exports of $dll differ:"
    echo "expected:"; echo "$expected"
    echo "actual:"; echo "$actual"
    status=1
fi
if [ "$slots" != "4" ]; then
    echo "export address table has $slots entries, expected 4"
    status=1
fi
if [ "$library" != "Dorvale.dll" ]; then
    echo "library name is '$library', expected Dorvale.dll"
    status=1
fi
[ $status -eq 0 ] && echo "exports of $dll: ok"
exit $status
