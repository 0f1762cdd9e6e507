#!/bin/sh
# A CE library is an ARM image (machine 0x01C0) for the CE subsystem (9),
# version 3.0, carries no symbol table and has the project's version.
#   check-wince-image.sh <library file name>
# Environment: OBJDUMP (the CE toolchain's objdump), BIN (the build's bin),
# VERSION (the project's).
set -eu
dll="$BIN/$1"
[ -f "$dll" ] || { echo "missing $dll"; exit 1; }

# The machine field follows the "PE\0\0" signature that e_lfanew points to.
pe=$(od -An -t u4 -j 60 -N 4 "$dll" | tr -d ' ')
signature=$(od -An -t x1 -j "$pe" -N 4 "$dll" | tr -d ' ')
machine=$(od -An -t x1 -j $((pe + 4)) -N 2 "$dll" | awk '{ print "0x" $2 $1 }')
headers=$("$OBJDUMP" -p "$dll")
subsystem=$(printf '%s\n' "$headers" | awk '/^Subsystem/ { print $2 + 0 }')
version=$(printf '%s\n' "$headers" | awk '/^MajorSubsystemVersion/ { a = $2 } /^MinorSubsystemVersion/ { b = $2 } END { print a "." b }')
symbols=$("$OBJDUMP" -f "$dll" | grep -c 'HAS_SYMS' || true)
# The version resource's fixed part follows its signature 0xFEEF04BD: the
# file and product versions, each two words whose high half comes last.
at=$(LC_ALL=C grep -obUaP '\xbd\x04\xef\xfe' "$dll" | head -n1 | cut -d: -f1)
set -- $( [ -n "$at" ] && od -An -t u2 -j $((at + 8)) -N 16 "$dll")
versions="${2:-}.${1:-}.${4:-}.${3:-} ${6:-}.${5:-}.${8:-}.${7:-}"

status=0
[ "$signature" = 50450000 ] || { echo "no PE signature at $pe"; status=1; }
[ "$machine" = 0x01c0 ] || { echo "machine $machine, expected 0x01c0 (ARM)"; status=1; }
[ "$subsystem" = 9 ] || { echo "subsystem $subsystem, expected 9 (Windows CE)"; status=1; }
[ "$version" = 3.0 ] || { echo "subsystem version $version, expected 3.0"; status=1; }
[ "$symbols" = 0 ] || { echo "carries a symbol table (link with -s)"; status=1; }
[ "$versions" = "$VERSION.0 $VERSION.0" ] ||
    { echo "file and product version '$versions', expected $VERSION.0"; status=1; }
[ $status -eq 0 ] && echo "$dll: machine $machine, subsystem $subsystem $version, no symbol table, version $VERSION"
exit $status
