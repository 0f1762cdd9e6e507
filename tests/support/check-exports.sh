#!/bin/bash
# Usage: check-exports.sh <library>.dll <ordinal>:<name>...
# Checks that the library in BIN exports exactly the given undecorated names
# at the given ordinals, has no other export slot, and names itself by its
# own file name. Needs OBJDUMP (the target's objdump) and BIN.
set -euo pipefail
name=${1:?"usage: check-exports.sh <library>.dll <ordinal>:<name>..."}
shift
dll="$BIN/$name"
[ -f "$dll" ] || { echo "missing $dll"; exit 1; }
dump=$("$OBJDUMP" -p "$dll")

base=$(sed -n 's/^Ordinal Base[[:space:]]*\([0-9]*\).*/\1/p' <<<"$dump" | head -n1)
[ -n "$base" ] || { echo "no export table in $dll"; exit 1; }
# Lines of the name table look like "[   0] HookKeys": an index from the
# ordinal base.
actual=$(sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' <<<"$dump" |
    sed -n 's/^[[:space:]]*\[ *\([0-9]*\)\] \(.*\)$/\1 \2/p' |
    while read -r index export; do echo "$((index + base)):$export"; done | sort -n)
expected=$(printf '%s\n' "$@" | sort -n)
# Every slot of the address table, by ordinal: none without a name.
slots=$(sed -n 's/^[[:space:]]*\[ *[0-9]*\] +base\[ *\([0-9]*\)\].*/\1/p' <<<"$dump" | sort -n | tr '\n' ' ')
ordinals=$(printf '%s\n' "$@" | sed 's/:.*//' | sort -n | tr '\n' ' ')
library=$(sed -n 's/^Name[[:space:]].*[[:space:]]\([^[:space:]]*\)$/\1/p' <<<"$dump" | head -n1)

status=0
if [ "$actual" != "$expected" ]; then
    echo "exports of $dll differ: expected"
    echo "$expected"
    echo "actual:"
    echo "$actual"
    status=1
fi
if [ "$slots" != "$ordinals" ]; then
    echo "the export address table of $dll has the slots $slots, expected $ordinals"
    status=1
fi
if [ "$library" != "$name" ]; then
    echo "$dll names itself '$library', expected $name"
    status=1
fi
[ $status -eq 0 ] && echo "exports of $dll: $(echo $actual)"
exit $status
