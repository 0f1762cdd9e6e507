#!/bin/bash
# Runs the relay benchmark and writes build/bench/relay.json.
# `make bench` calls it through tools/with-wine, which sets WINE (the wine64
# loader) and BIN (build/win64/bin). Extra arguments go to relay-bench
# (--quick for fewer runs).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
out="$root/build/bench"
mkdir -p "$out"
rm -f "$out/relay.json"
# The benchmark is a Windows program: it sees the Linux file system as Z:.
json="Z:${out//\//\\}\\relay.json"
"$WINE" "$BIN/relay-bench.exe" --json "$json" "$@"
echo
echo "figures written to $out/relay.json"
