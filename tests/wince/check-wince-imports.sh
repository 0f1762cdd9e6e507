#!/bin/sh
# A CE library imports from COREDLL.dll alone, and only functions on the list
# of CE platform functions (by their CE name, first column) that are not
# meant to be looked up at run time. Anything else would keep the library
# from loading on a device: a libgcc DLL, the shell library where the device
# has none, a desktop name.
#   check-wince-imports.sh <library file name> <list>
# Environment: OBJDUMP (the CE toolchain's objdump), BIN (the build's bin).
set -eu
dll="$BIN/$1"
list=$2
[ -f "$dll" ] || { echo "missing $dll"; exit 1; }

allowed=" $(awk '!/^#/ && NF >= 4 && $2 == "coredll.dll" && $3 != "-" { print $1 }' "$list" | tr '\n' ' ') "

# "DLL Name: X" opens a library's imports; each import is "<vma> <hint> <name>".
imports=$("$OBJDUMP" -p "$dll" | awk '
    /^The Import Tables/ { table = 1; next }
    table && /^[^ \t]/ { table = 0 }
    table && /DLL Name:/ { library = $3; next }
    table && library != "" && /^\t[0-9a-f]+\t/ {
        print library, (NF >= 3 ? $3 : "(ordinal " $2 ")")
    }')
[ -n "$imports" ] || { echo "no import table read from $dll"; exit 1; }

echo "$imports" | {
    status=0
    while read -r library name; do
        if [ "$library" != "COREDLL.dll" ]; then
            echo "NOT FROM COREDLL: $name ($library)"
            status=1
        elif case "$allowed" in *" $name "*) true ;; *) false ;; esac; then
            echo "ok: $name"
        else
            echo "NOT ON THE CE LIST: $name"
            status=1
        fi
    done
    exit $status
}
