#!/bin/bash
# What the CE build made, as pefile reads it: for each device library its
# machine, subsystem, exports and imported library.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
bin="$root/build/wince/bin"
if ! cegcc=$("$root/tools/cegcc-root" 2>&1); then
    echo "The CE build did not run: $cegcc"
    exit 0
fi
for lib in Sembrin Dorvale; do
    dll="$bin/$lib.dll"
    [ -f "$dll" ] || { echo "$lib.dll: not built (make build-wince)"; continue; }
    "$root/tests/support/pe-facts.py" "$dll" | awk -v lib="$lib.dll" '
        $1 == "machine" { machine = $2 }
        $1 == "subsystem" { subsystem = $2 " (Windows CE) " $3 }
        $1 == "export" { exports = exports " " $3 " @" $2 }
        $1 == "import" && !seen[$2]++ { imports = imports " " $2 }
        END {
            printf "%s: machine %s (ARM), subsystem %s, exports%s, imports from%s\n",
                lib, machine, subsystem, exports, imports
        }'
done
