#!/bin/bash
# What the CE build made, as the CE toolchain's objdump reads it: for each
# device library its machine, subsystem, exports and imported library.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
bin="$root/build/wince/bin"
if ! cegcc=$("$root/tools/cegcc-root" 2>&1); then
    echo "The CE build did not run: $cegcc"
    exit 0
fi
objdump="$cegcc/bin/arm-mingw32ce-objdump"
for lib in Sembrin Dorvale; do
    dll="$bin/$lib.dll"
    [ -f "$dll" ] || { echo "$lib.dll: not built (make build-wince)"; continue; }
    format=$("$objdump" -f "$dll" | sed -n 's/.*file format //p')
    arch=$("$objdump" -f "$dll" | sed -n 's/^architecture: \([^,]*\).*/\1/p')
    "$objdump" -p "$dll" | awk -v lib="$lib.dll" -v machine="ARM ($arch, $format)" '
        /^MajorSubsystemVersion/ { major = $2 }
        /^MinorSubsystemVersion/ { minor = $2 }
        /^Subsystem/ { subsystem = $2 + 0 }
        /^Ordinal Base/ { base = $3 }
        /^\[Ordinal\/Name Pointer\] Table/ { names = 1; next }
        names && /^[ \t]*\[ *[0-9]+\]/ {
            n = $0; sub(/^[ \t]*\[ */, "", n)
            i = n; sub(/\].*/, "", i); sub(/^[0-9]+\] */, "", n)
            export[i + base] = n; count++; next
        }
        names { names = 0 }
        /DLL Name:/ { imports = imports " " $3 }
        END {
            for (o = base; o < base + count; o++) exports = exports " " export[o] " @" o
            printf "%s: %s, subsystem %s (Windows CE) %s.%s, exports%s, imports from%s\n",
                lib, machine, subsystem, major, minor, exports, imports
        }'
done
