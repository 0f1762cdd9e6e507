#!/bin/sh
# A CE library is an ARM image (machine 0x01C0) for the CE subsystem (9),
# version 3.0, carries no symbol table, has the project's version, and
# every data directory lies inside the image, the import address table's
# holding every imported library's table.
#   check-wince-image.sh <library file name>
# Environment: BIN (the build's bin), VERSION (the project's).
set -eu
dll="$BIN/$1"
[ -f "$dll" ] || { echo "missing $dll"; exit 1; }

facts=$("$(dirname "$0")/../support/pe-facts.py" "$dll") || { echo "cannot read $dll with pefile"; exit 1; }
fact() { printf '%s\n' "$facts" | sed -n "s/^$1 //p"; }
machine=$(fact machine)
subsystem=$(fact subsystem)
symbols=$(fact symbols)
versions=$(fact version)
status=0
[ "$machine" = 0x01c0 ] || { echo "machine $machine, expected 0x01c0 (ARM)"; status=1; }
[ "$subsystem" = "9 3.0" ] || { echo "subsystem $subsystem, expected 9 (Windows CE) 3.0"; status=1; }
[ "$symbols" = 0 ] && [ -z "$(fact debug)" ] || { echo "carries a symbol table (link with -s)"; status=1; }
[ "$versions" = "$VERSION.0 $VERSION.0" ] ||
    { echo "file and product version '$versions', expected $VERSION.0"; status=1; }
# The CE linker (binutils 2.20) wrote the import address table's address
# absolute; the build makes it relative. Whether a CE loader reads it is
# not documented: it must be right.
if fact directory | grep ' outside$'; then
    echo "data directories outside the image (above)"
    status=1
fi
if [ -n "$(fact unlisted)" ]; then
    echo "import address tables outside the IAT directory: $(fact unlisted)"
    status=1
fi
[ $status -eq 0 ] && echo "$dll: machine $machine, subsystem $subsystem, no symbol table, version $VERSION, data directories inside the image"
exit $status
