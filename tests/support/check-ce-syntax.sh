#!/bin/sh
# Compiles device sources as a Windows CE build sees them, syntax only, with
# the desktop compiler and the few CE-only declarations forced in first.
#   check-ce-syntax.sh <compiler> <CE declarations> <common dir> "<flags>" <source>...
# Proves the CE branches well-formed C++98, not that CE headers or the CE
# linker accept them.
#
# A CE compiler may announce the platform three ways; the device code asks
# only DEVICE_IS_CE, which DeviceCompat.h derives from any of them. So the
# sources are compiled once, with one announcement; for the other two the
# preprocessor shows that they, too, give DEVICE_IS_CE, and no other file
# may look at an announcement itself.
set -u
compiler=$1 declarations=$2 common=$3 flags=$4
shift 4
[ $# -gt 0 ] || { echo "no sources given"; exit 1; }

status=0
for source in "$@"; do
    # shellcheck disable=SC2086 # the flags are words
    if "$compiler" -fsyntax-only $flags -DUNICODE -D_UNICODE -DUNDER_CE=1 \
        -I"$common" -include "$declarations" "$source"; then
        echo "ok: $(basename "$source") with UNDER_CE=1"
    else
        echo "FAILED: $(basename "$source") with UNDER_CE=1"
        status=1
    fi
done

# The desktop headers cannot change what DeviceCompat.h makes of an
# announcement and take most of the preprocessor's time: they are left out.
for announce in __UNDER_CE__=1 _WIN32_WCE=0x500; do
    if "$compiler" -E -dM -D_WINDOWS_ -D"$announce" -x c++ "$common/DeviceCompat.h" |
        grep -q '^#define DEVICE_IS_CE 1$'; then
        echo "ok: $announce gives DEVICE_IS_CE"
    else
        echo "FAILED: $announce does not give DEVICE_IS_CE"
        status=1
    fi
done

for file in "$@" "$common"/*.h; do
    [ "$(basename "$file")" = DeviceCompat.h ] && continue
    if grep -n -E '\b(UNDER_CE|__UNDER_CE__|_WIN32_WCE)\b' "$file"; then
        echo "FAILED: $(basename "$file") looks at a CE announcement, not at DEVICE_IS_CE"
        status=1
    fi
done
exit $status
