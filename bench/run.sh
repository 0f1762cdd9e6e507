#!/bin/bash
# Runs the relay benchmark and writes build/bench/relay.json.
# `make bench` calls it through tools/with-wine win64, which sets WINE (the
# wine64 loader) and BIN (build/win64/bin). Where the machine runs 32-bit
# programs, the x86 pl3.com and relay4k.com of build/win32/bin are measured
# in the same run.
# Extra arguments go to relay-bench (--quick for fewer runs).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
out="$root/build/bench"
mkdir -p "$out"
rm -f "$out/relay.json"
# The benchmark is a Windows program: it sees the Linux file system as Z:.
windows_path() { local p="Z:${1//\//\\}"; echo "$p"; }
x86=()
if ! "$root/tools/can-run-i386"; then
    echo "The x86 rows are left out: this machine has no 32-bit Wine."
elif [ ! -f "$root/build/win32/bin/pl3.com" ] || [ ! -f "$root/build/win32/bin/relay4k.com" ]; then
    echo "The x86 rows are left out: build/win32 has no pl3.com or relay4k.com (make build-win32)."
else
    x86=(--x86 "$(windows_path "$root/build/win32/bin")")
fi
"$WINE" "$BIN/relay-bench.exe" --json "$(windows_path "$out/relay.json")" "${x86[@]}" "$@"
echo
echo "figures written to $out/relay.json"
