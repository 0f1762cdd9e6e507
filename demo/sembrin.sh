#!/bin/bash
# Closes a running sample client and starts it again through Sembrin's two
# remote calls, made the way the device's Remote API service makes them
# (testbed rapi-host). Needs WINE and BIN, as set by tools/with-wine.
set -euo pipefail

work=$(mktemp -d "${TMPDIR:-/tmp}/sembrin-demo.XXXXXX")
install="$work/Pelorin Client"
log="$work/client.log"
winpath() { printf 'Z:%s' "${1//\//\\}"; }

cleanup() {
    "$WINE" "$BIN/rapi-host.exe" Sembrin.dll ShutdownClient </dev/null >/dev/null 2>&1 || true
    "$WINE" reg delete 'HKLM\Software\Apps\Pelorin Client' /f </dev/null >/dev/null 2>&1 || true
    "$WINE" reg delete 'HKCU\Software\Pelorin' /f </dev/null >/dev/null 2>&1 || true
    rm -rf "$work"
}
trap cleanup EXIT

starts() { if [ -f "$log" ]; then grep -c '^start:' "$log" || true; else echo 0; fi; }
wait_for_starts() {
    for _ in $(seq 100); do
        [ "$(starts)" -ge "$1" ] && return 0
        sleep 0.1
    done
    echo "the client did not start" >&2
    return 1
}
# Through a file, not a pipe: under Wine a client started by the call holds
# on to the caller's output, and a pipe would never see its end.
call() {
    echo "\$ rapi-host Sembrin.dll $*"
    "$WINE" "$BIN/rapi-host.exe" Sembrin.dll "$@" </dev/null >"$work/call.txt" 2>&1 || true
    tr -d '\r' <"$work/call.txt" | sed 's/^/  /'
}

echo "Installing the sample client in $(winpath "$install")"
mkdir -p "$install"
cp "$BIN/Client.exe" "$install/"
"$WINE" reg add 'HKLM\Software\Apps\Pelorin Client' /v InstallDir /t REG_SZ \
    /d "$(winpath "$install")" /f </dev/null >/dev/null
"$WINE" reg delete 'HKCU\Software\Pelorin' /f </dev/null >/dev/null 2>&1 || true

# The client records every start and close request in its log.
export PELORIN_CLIENT_LOG
PELORIN_CLIENT_LOG=$(winpath "$log")
echo "Starting the client"
"$WINE" "$(winpath "$install/Client.exe")" </dev/null >/dev/null 2>&1 &
wait_for_starts 1

echo
echo "Closing it remotely:"
call ShutdownClient
echo "\$ reg query HKCU\\Software\\Pelorin /v AutoRestart"
"$WINE" reg query 'HKCU\Software\Pelorin' /v AutoRestart </dev/null >"$work/query.txt"
tr -d '\r' <"$work/query.txt" | grep AutoRestart

echo
echo "Starting it again remotely (AutoRestart is 1, so no input is needed):"
call RestartClient
wait_for_starts 2

echo
echo "Closing it again:"
call ShutdownClient
echo
echo "The client's log:"
tr -d '\r' <"$log" | sed 's/^/  /'
