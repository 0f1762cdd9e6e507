#!/bin/bash
# Sembrin.dll exports exactly HookKeys @1, DllMain @2, RestartClient @3 and
# ShutdownClient @4, by undecorated names. Needs OBJDUMP and BIN.
set -euo pipefail
dll="$BIN/Sembrin.dll"
dump=$("$OBJDUMP" -p "$dll")

base=$(sed -n 's/.*Ordinal Base \([0-9]*\).*/\1/p' <<<"$dump")
[ -n "$base" ] || { echo "no export table in $dll"; exit 1; }
# Lines of the name table look like "[   0] HookKeys": an index from the
# ordinal base.
actual=$(sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' <<<"$dump" \
    | sed -n 's/^[[:space:]]*\[ *\([0-9]*\)\] \(.*\)$/\1 \2/p' \
    | while read -r index name; do echo "$((index + base)) $name"; done | sort -n)
expected=$'1 HookKeys\n2 DllMain\n3 RestartClient\n4 ShutdownClient'
functions=$(sed -n 's/.*Export Address Table -- Ordinal Base.*//;s/^[[:space:]]*\[ *[0-9]*\] +base\[ *\([0-9]*\)\].*/\1/p' <<<"$dump" | tr '\n' ' ')

if [ "$actual" != "$expected" ] || [ "$functions" != "1 2 3 4 " ]; then
    echo "unexpected exports in $dll:"
    echo "$actual"
    echo "ordinals: $functions"
    exit 1
fi
echo "$dll exports:"
echo "$actual"
