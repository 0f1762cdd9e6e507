#!/bin/sh
# Fails when a device library imports a platform function that Windows CE
# does not offer: every import must be on the list of CE platform functions.
#   check-ce-imports.sh <library file name> <list> [desktop|wince]
# Environment: BIN (the build's bin folder).
#
# desktop (the default), for the desktop builds: an import passes by its CE
# name or by the desktop name device/common maps to it. Left out, as the
# mingw runtime's own (its startup code, thread-local storage,
# pseudo-relocations and, in the 32-bit build, the unwinder's registration):
# everything from msvcrt.dll, and from KERNEL32.dll TlsGetValue,
# VirtualProtect, VirtualQuery, GetModuleHandleA and LoadLibraryA. The
# runtime also imports the critical sections, GetLastError, Sleep and
# FreeLibrary, which CE has and the list holds.
#
# wince, for the CE libraries themselves: everything comes from COREDLL.dll,
# by a CE name on the list that is not meant to be looked up at run time,
# the CE runtime's own imports included. Anything else would keep the
# library from loading on a device: a libgcc DLL, the shell library where a
# device has none, a desktop name.
set -eu
dll="$BIN/$1"
list=$2
mode=${3:-desktop}
[ -f "$dll" ] || { echo "missing $dll"; exit 1; }

runtime_kernel32=" TlsGetValue VirtualProtect VirtualQuery GetModuleHandleA LoadLibraryA "

if [ "$mode" = wince ]; then
    allowed=" $(awk '!/^#/ && NF >= 4 && $2 == "coredll.dll" && $3 != "-" { print $1 }' "$list" | tr '\n' ' ') "
else
    # CE names a desktop build shares, and desktop names that stand for a CE one.
    allowed=" $(awk '!/^#/ && NF >= 4 && $3 != "-" { print ($3 == "=" ? $1 : $3) }' "$list" | tr '\n' ' ') "
fi

# One "<library> <name or #ordinal>" an import.
imports=$("$(dirname "$0")/pe-facts.py" "$dll" | sed -n 's/^import //p')
[ -n "$imports" ] || { echo "no import table read from $dll"; exit 1; }

listed() { case "$allowed" in *" $1 "*) true ;; *) false ;; esac; }

echo "$imports" | {
    status=0
    left_out=""
    while read -r library name; do
        if [ "$mode" = wince ]; then
            if [ "$library" != "COREDLL.dll" ]; then
                echo "NOT FROM COREDLL: $name ($library)"
                status=1
                continue
            fi
        elif [ "$library" = "msvcrt.dll" ] \
            || { [ "$library" = "KERNEL32.dll" ] && case "$runtime_kernel32" in *" $name "*) true ;; *) false ;; esac; }; then
            left_out="$left_out $name"
            continue
        fi
        if listed "$name"; then
            echo "ok: $name ($library)"
        else
            echo "NOT ON THE CE LIST: $name ($library)"
            status=1
        fi
    done
    [ "$mode" = wince ] || echo "left out as the mingw runtime's own:$left_out"
    exit $status
}
