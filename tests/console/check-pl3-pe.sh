#!/bin/sh
# pl3.com as delivered: an x86 console program for Windows 5.0 and later that
# asks for no elevation and imports only the kernel and the C runtime. Needs OBJDUMP and BIN (set by CTest).
file="$BIN/pl3.com"
headers=$("$OBJDUMP" -p "$file") || { echo "cannot read $file"; exit 1; }
failed=0
expect() {
    if ! printf '%s\n' "$headers" | grep -Eq "$1"; then
        echo "missing in objdump -p: $2"
        failed=1
    fi
}
expect 'file format pei-i386' 'x86 PE (pei-i386)'
expect '^Subsystem[[:space:]]+00000003' 'console subsystem (3)'
expect '^MajorSubsystemVersion[[:space:]]+5$' 'subsystem version 5'
expect '^MinorSubsystemVersion[[:space:]]+0$' 'subsystem version .0'
# Resource types at the top level of the resource tree: 16 version, 24 manifest.
expect '^[0-9a-f]+   Entry: ID: 0x000010,' 'version information'
expect '^[0-9a-f]+   Entry: ID: 0x000018,' 'manifest resource'
# Only the kernel and the C runtime that Windows 2000 already has: a console
# tool has no business loading the window system.
dlls=$(printf '%s\n' "$headers" | sed -n 's/^[[:space:]]*DLL Name: //p' | tr 'A-Z' 'a-z' | sort -u |
       tr '\n' ' ')
if [ "$dlls" != "kernel32.dll msvcrt.dll " ]; then
    echo "imports other than kernel32.dll and msvcrt.dll: $dlls"
    failed=1
fi
# The manifest is stored as text in the resources.
manifest=$(grep -a 'requestedExecutionLevel' "$file")
case "$manifest" in
    *'level="asInvoker"'*'uiAccess="false"'*) ;;
    *) echo "no manifest asking for asInvoker without uiAccess"; failed=1 ;;
esac
exit $failed
