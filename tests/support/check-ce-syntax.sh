#!/bin/sh
# Compiles device sources as a Windows CE build sees them, syntax only, with
# the desktop compiler: once for each way a CE compiler may announce the
# platform, with the few CE-only declarations forced in first.
#   check-ce-syntax.sh <compiler> <CE declarations> <common dir> "<flags>" <source>...
# Proves the CE branches well-formed C++98, not that CE headers or the CE
# linker accept them.
set -u
compiler=$1 declarations=$2 common=$3 flags=$4
shift 4
[ $# -gt 0 ] || { echo "no sources given"; exit 1; }

status=0
for announce in UNDER_CE=1 __UNDER_CE__=1 _WIN32_WCE=0x500; do
    for source in "$@"; do
        # shellcheck disable=SC2086 # the flags are words
        if "$compiler" -fsyntax-only $flags -DUNICODE -D_UNICODE -D"$announce" \
            -I"$common" -include "$declarations" "$source"; then
            echo "ok: $(basename "$source") with $announce"
        else
            echo "FAILED: $(basename "$source") with $announce"
            status=1
        fi
    done
done
exit $status
