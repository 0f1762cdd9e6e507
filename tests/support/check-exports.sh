#!/bin/bash
# Usage: check-exports.sh <library>.dll <ordinal>:<name>...
# Checks that the library in BIN exports exactly the given undecorated names
# at the given ordinals, has no other export slot (a slot without a name
# shows as <ordinal>:-), and names itself by its own file name. Needs BIN.
set -euo pipefail
name=${1:?"usage: check-exports.sh <library>.dll <ordinal>:<name>..."}
shift
dll="$BIN/$name"
[ -f "$dll" ] || { echo "missing $dll"; exit 1; }
facts=$("$(dirname "$0")/pe-facts.py" "$dll") || { echo "cannot read $dll with pefile"; exit 1; }
library=$(sed -n 's/^exportname //p' <<<"$facts")
[ -n "$library" ] || { echo "no export table in $dll"; exit 1; }
actual=$(sed -n 's/^export \([0-9]*\) \(.*\)$/\1:\2/p' <<<"$facts" | sort -n)
expected=$(printf '%s\n' "$@" | sort -n)

status=0
if [ "$actual" != "$expected" ]; then
    echo "exports of $dll differ: expected"
    echo "$expected"
    echo "actual:"
    echo "$actual"
    status=1
fi
if [ "$library" != "$name" ]; then
    echo "$dll names itself '$library', expected $name"
    status=1
fi
[ $status -eq 0 ] && echo "exports of $dll: $(echo $actual)"
exit $status
