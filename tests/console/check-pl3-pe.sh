#!/bin/sh
# pl3.com as delivered: a console program for Windows 5.0 and later whose
# manifest asks for no elevation, imports only the kernel and the C runtime,
# carries the project's version in its version resource and its manifest,
# and is stripped without losing what the loader uses.
#   check-pl3-pe.sh x86|x64
# Needs BIN and VERSION (set by CTest).
file="$BIN/pl3.com"
facts=$("$(dirname "$0")/../support/pe-facts.py" "$file") || { echo "cannot read $file with pefile"; exit 1; }
fact() { printf '%s\n' "$facts" | sed -n "s/^$1 //p"; }
failed=0
expect() {
    if [ "$1" != "$2" ]; then
        echo "$3: '$1', expected '$2'"
        failed=1
    fi
}
has_flag() {
    case " $(fact flags) " in
        *" $1 "*) ;;
        *) echo "not set: $1 ($2)"; failed=1 ;;
    esac
}
case "$1" in
    x86) expect "$(fact machine)" 0x014c 'machine (x86)' ;;
    x64) expect "$(fact machine)" 0x8664 'machine (x64)'
         has_flag HIGH_ENTROPY_VA 'high-entropy ASLR' ;;
    *) echo "usage: check-pl3-pe.sh x86|x64"; exit 2 ;;
esac
expect "$(fact subsystem)" '3 5.0' 'subsystem and its version (console, 5.0)'
# Stripping keeps the base relocations and the ASLR and DEP flags.
has_flag DYNAMIC_BASE ASLR
has_flag NX_COMPAT DEP
fact directory | grep -q '^BASERELOC ' || { echo "no base relocations"; failed=1; }
if [ "$(fact symbols)" != 0 ] || [ -n "$(fact debug)" ]; then
    echo "carries symbols or debug sections: link with -s"
    failed=1
fi
fact resource | grep -qx 24 || { echo "no manifest resource (type 24)"; failed=1; }
expect "$(fact version)" "$VERSION.0 $VERSION.0" 'version resource: file and product version'
expect "$(fact manifest)" "$VERSION.0 asInvoker false" 'manifest: version, level and uiAccess'
if fact directory | grep ' outside$'; then
    echo "data directories outside the image (above)"
    failed=1
fi
# Only the kernel and the C runtime that Windows 2000 already has: a console
# tool has no business loading the window system.
dlls=$(fact import | cut -d' ' -f1 | tr 'A-Z' 'a-z' | sort -u | tr '\n' ' ')
expect "$dlls" "kernel32.dll msvcrt.dll " 'imported libraries'
# What Windows 2000's kernel lacks is looked up when needed, never imported:
# one missing import and the system refuses to load the program at all.
for name in GetFinalPathNameByHandleW Wow64DisableWow64FsRedirection \
            Wow64RevertWow64FsRedirection InitializeProcThreadAttributeList \
            UpdateProcThreadAttribute DeleteProcThreadAttributeList; do
    if fact import | grep -qw "$name"; then
        echo "imports $name, which Windows 2000 lacks: look it up instead"
        failed=1
    fi
done
exit $failed
