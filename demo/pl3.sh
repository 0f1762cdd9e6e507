#!/bin/bash
# pl3.com in front of a graphical program: the program's output shows up line
# by line while it runs, and its exit status comes back. Run by `make demo`
# through tools/with-wine, which provides WINE, PRESET and BIN.
set -euo pipefail
folder=$(mktemp -d)
trap 'rm -rf "$folder"' EXIT
cp "$BIN/pl3.com" "$folder/pl3.com"
cp "$BIN/twin.exe" "$folder/pl3.exe"   # the stand-in for the graphical program
cd "$folder"
case "$PRESET" in
    win32) echo "This is the x86 pl3.com, the one users get, under 32-bit Wine." ;;
    *) echo "This is the 64-bit build of pl3.com: this machine cannot run 32-bit programs." ;;
esac
echo

# Each relayed line is stamped with the time it arrived.
stamp() {
    local start=$SECONDS line
    while IFS= read -r line; do
        printf '  [after %2ds] %s\n' $((SECONDS - start)) "${line%$'\r'}"
    done
}

echo "pl3.com starts pl3.exe hidden and relays what it prints:"
echo "\$ pl3.com ..."
set +e
"$WINE" pl3.com "line:Opening the project" sleep:1000 \
                "line:Checking 3 files" sleep:1000 \
                "line:Writing the report" sleep:1000 \
                "line:Done, with one warning" exit:3 | stamp
status=${PIPESTATUS[0]}
set -e
echo "exit status: $status (the program's own)"

echo
echo "Without the program beside it, pl3.com says why and fails:"
rm pl3.exe
set +e
"$WINE" pl3.com | sed 's/\r$//; s/^/  /'
status=${PIPESTATUS[0]}
set -e
echo "exit status: $status"
