#!/bin/sh
# Fails when a device library imports a platform function that Windows CE
# does not offer: every import must be on the list of CE platform functions,
# by its CE name or by the desktop name device/common maps to it.
#   check-ce-imports.sh <library file name> <list>
# Environment: OBJDUMP (the target's objdump), BIN (the build's bin folder).
#
# Left out, as the mingw runtime's own (its startup code, thread-local
# storage, pseudo-relocations and, in the 32-bit build, the unwinder's
# registration): everything from msvcrt.dll, and from KERNEL32.dll the
# critical sections, TlsGetValue, VirtualProtect, VirtualQuery,
# GetModuleHandleA and LoadLibraryA. The runtime also imports GetLastError,
# Sleep and FreeLibrary, which CE has and the list holds.
set -eu
dll="$BIN/$1"
list=$2
[ -f "$dll" ] || { echo "missing $dll"; exit 1; }

runtime_kernel32=" DeleteCriticalSection EnterCriticalSection InitializeCriticalSection LeaveCriticalSection TlsGetValue VirtualProtect VirtualQuery GetModuleHandleA LoadLibraryA "

# Names a desktop build may import: CE names it shares, and desktop names
# that stand for a CE one.
allowed=" $(awk '!/^#/ && NF >= 4 && $3 != "-" { print ($3 == "=" ? $1 : $3) }' "$list" | tr '\n' ' ') "

# "DLL Name: X" opens a library's imports; each import is "<vma> <hint> <name>".
imports=$("$OBJDUMP" -p "$dll" | awk '
    /^The Import Tables/ { table = 1; next }
    table && /^[^ \t]/ { table = 0 }
    table && /DLL Name:/ { library = $3; next }
    table && library != "" && /^\t[0-9a-f]+\t/ {
        print library, (NF >= 3 ? $3 : "(ordinal " $2 ")")
    }')
[ -n "$imports" ] || { echo "no import table read from $dll"; exit 1; }

status=0
left_out=""
echo "$imports" | {
    while read -r library name; do
        if [ "$library" = "msvcrt.dll" ] \
            || { [ "$library" = "KERNEL32.dll" ] && case "$runtime_kernel32" in *" $name "*) true ;; *) false ;; esac; }; then
            left_out="$left_out $name"
        elif case "$allowed" in *" $name "*) true ;; *) false ;; esac; then
            echo "ok: $name ($library)"
        else
            echo "NOT ON THE CE LIST: $name ($library)"
            status=1
        fi
    done
    echo "left out as the mingw runtime's own:$left_out"
    exit $status
}
