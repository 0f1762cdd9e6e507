#!/bin/sh
# pl3.com as delivered: a console program for Windows 5.0 and later whose
# manifest asks for no elevation, imports only the kernel and the C runtime,
# carries the project's version in its version resource and its manifest,
# and is stripped without losing what the loader uses.
#   check-pl3-pe.sh x86|x64
# Needs OBJDUMP, BIN and VERSION (set by CTest).
file="$BIN/pl3.com"
headers=$("$OBJDUMP" -p "$file") || { echo "cannot read $file"; exit 1; }
failed=0
expect() {
    if ! printf '%s\n' "$headers" | grep -Eq "$1"; then
        echo "missing in objdump -p: $2"
        failed=1
    fi
}
case "$1" in
    x86) expect 'file format pei-i386' 'x86 PE (pei-i386)' ;;
    x64) expect 'file format pei-x86-64' 'x64 PE (pei-x86-64)'
         expect '^[[:space:]]+HIGH_ENTROPY_VA$' 'high-entropy ASLR (HIGH_ENTROPY_VA)' ;;
    *) echo "usage: check-pl3-pe.sh x86|x64"; exit 2 ;;
esac
expect '^Subsystem[[:space:]]+00000003' 'console subsystem (3)'
expect '^MajorSubsystemVersion[[:space:]]+5$' 'subsystem version 5'
expect '^MinorSubsystemVersion[[:space:]]+0$' 'subsystem version .0'
# Stripping keeps the base relocations and the ASLR and DEP flags.
expect '^[[:space:]]+DYNAMIC_BASE$' 'ASLR (DYNAMIC_BASE)'
expect '^[[:space:]]+NX_COMPAT$' 'DEP (NX_COMPAT)'
expect '^Entry 5 [0-9a-f]+ 0*[1-9a-f][0-9a-f]* Base Relocation Directory' 'base relocations'
if "$OBJDUMP" -f "$file" | grep -Eq 'HAS_SYMS|HAS_DEBUG' || "$OBJDUMP" -h "$file" | grep -q '\.debug'; then
    echo "carries symbols or debug sections: link with -s"
    failed=1
fi
# Resource types at the top level of the resource tree: 24 manifest.
expect '^[0-9a-f]+   Entry: ID: 0x000018,' 'manifest resource'
# The version resource, the manifest and the data directories, read with
# pefile: the file and product versions, the manifest's own version and
# the level it asks for, every directory inside the image.
facts=$("$(dirname "$0")/../support/pe-facts.py" "$file") || { echo "cannot read $file with pefile"; exit 1; }
fact() { printf '%s\n' "$facts" | sed -n "s/^$1 //p"; }
if [ "$(fact version)" != "$VERSION.0 $VERSION.0" ]; then
    echo "version resource: file and product version '$(fact version)', expected $VERSION.0"
    failed=1
fi
if [ "$(fact manifest)" != "$VERSION.0 asInvoker false" ]; then
    echo "manifest: version, level and uiAccess '$(fact manifest)', expected '$VERSION.0 asInvoker false'"
    failed=1
fi
if fact directory | grep ' outside$'; then
    echo "data directories outside the image (above)"
    failed=1
fi
# Only the kernel and the C runtime that Windows 2000 already has: a console
# tool has no business loading the window system.
dlls=$(printf '%s\n' "$headers" | sed -n 's/^[[:space:]]*DLL Name: //p' | tr 'A-Z' 'a-z' | sort -u |
       tr '\n' ' ')
if [ "$dlls" != "kernel32.dll msvcrt.dll " ]; then
    echo "imports other than kernel32.dll and msvcrt.dll: $dlls"
    failed=1
fi
# What Windows 2000's kernel lacks is looked up when needed, never imported:
# one missing import and the system refuses to load the program at all.
imports=$(printf '%s\n' "$headers" | sed -n '/^[[:space:]]*DLL Name:/,/^$/p')
for name in GetFinalPathNameByHandleW Wow64DisableWow64FsRedirection \
            Wow64RevertWow64FsRedirection; do
    if printf '%s\n' "$imports" | grep -qw "$name"; then
        echo "imports $name, which Windows 2000 lacks: look it up instead"
        failed=1
    fi
done
exit $failed
