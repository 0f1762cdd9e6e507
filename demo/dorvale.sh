#!/bin/bash
# Dorvale.dll as the package installer uses it: an installation over a used
# client folder, then a removal, showing what went and what stayed.
# Run by demo/run inside tools/with-wine ($WINE, $WINEPREFIX, $BIN).
set -euo pipefail
: "${WINE:?run through tools/with-wine}" "${BIN:?}" "${WINEPREFIX:?}"

win() { "$WINE" "$@" </dev/null 2>/dev/null | tr -d '\r'; }
unix_path() { "$WINE" winepath -u "$1" </dev/null 2>/dev/null | tr -d '\r'; }

root="$WINEPREFIX/drive_c/PelorinDemo"
rm -rf "$root"
mkdir -p "$root/tools" "$root/package"
tools='C:\PelorinDemo\tools'
install_dir='C:\PelorinDemo\Pelorin Client'
dir="$root/Pelorin Client"

# The installer, with the setup library from the package and the device's
# shell library beside it.
cp "$BIN/installer.exe" "$BIN/Dorvale.dll" "$BIN/platform/AYGSHELL.DLL" "$root/tools/"
# The new package: the client and its files.
cp "$BIN/Client.exe" "$root/package/"
echo "help text" >"$root/package/help.txt"
echo "release notes" >"$root/package/notes.txt"

# A client folder in use: an earlier version with its data.
mkdir -p "$dir/Outgoing" "$dir/Media" "$dir/Temp"
cp "$BIN/Client.exe" "$dir/"
echo "old notes" >"$dir/notes.txt"
echo "user settings" >"$dir/settings.dat"
echo "licence" >"$dir/licence.txt"
chmod a-w "$dir/licence.txt"           # read-only under Wine
echo "unsent order" >"$dir/Outgoing/order-17.xml"
echo "scratch" >"$dir/Temp/upload.tmp"
echo "scratch" >"$dir/Temp/cache.tmp"
win reg add 'HKLM\Software\Apps\Pelorin Client' /v InstallDir /d "$install_dir" /f >/dev/null
win reg add 'HKCU\Software\Pelorin' /v AutoRestart /t REG_DWORD /d 1 /f >/dev/null
startup=$(unix_path "$(win cmd /c echo %APPDATA%)\\Microsoft\\Windows\\Start Menu\\Programs\\Startup")
mkdir -p "$startup"
echo "shortcut" >"$startup/Pelorin.lnk"

export PELORIN_CLIENT_LOG='C:\PelorinDemo\client.log'
export PELORIN_AYGSHELL_LOG='C:\PelorinDemo\provisioning.log'
# The device's Remote API policy, kept by the configuration manager: 2, the
# restricted mode devices ship with.
export PELORIN_AYGSHELL_POLICY='C:\PelorinDemo\policy.txt'
printf 2 >"$root/policy.txt"

show_state() {
    echo "--- $1"
    (cd "$dir" 2>/dev/null && find . -mindepth 1 | sort | while read -r entry; do
        kind=file; [ -d "$entry" ] && kind=folder
        mode=$(stat -c %A "$entry")
        [ "$kind" = file ] && [ "${mode:2:1}" = "-" ] && kind="file, read-only"
        printf '    %-28s %s\n' "${entry#./}" "($kind)"
    done) || echo "    (no installation folder)"
    [ -f "$startup/Pelorin.lnk" ] && echo "    Startup shortcut: present" || echo "    Startup shortcut: absent"
    if win reg query 'HKCU\Software\Pelorin' >/dev/null; then
        echo "    per-user key HKCU\\Software\\Pelorin: present"
    else
        echo "    per-user key HKCU\\Software\\Pelorin: absent"
    fi
    recorded=$(win reg query 'HKLM\Software\Pelorin\Setup' /v RemoteApiPolicy | awk '/RemoteApiPolicy/ { print $3 }' || true)
    echo "    Remote API policy 4097: $(cat "$root/policy.txt"); the value the grant replaced, recorded: ${recorded:-none}"
}

# Runs the installer stand-in: install or remove.
run_installer() {
    local status=0
    win "$root/tools/installer.exe" "$1" "$tools\\Dorvale.dll" "$install_dir" 'C:\PelorinDemo\package' \
        | sed 's/^/    /' || status=$?
    echo "    installer exit status: $status"
}

show_state "before installation"
echo
echo "--- installer install (Install_Init, the files, Install_Exit)"
run_installer install
echo "--- the client's starts:"
sed 's/^/    /' "$root/client.log"
echo "--- provisioning documents processed:"
sed 's/^/    /' "$root/provisioning.log"
show_state "after installation"

# The client runs again and puts its shortcut back, as it would on a device.
echo "shortcut" >"$startup/Pelorin.lnk"
win reg add 'HKCU\Software\Pelorin' /v AutoRestart /t REG_DWORD /d 0 /f >/dev/null
echo
echo "--- installer remove (Uninstall_Init, the files, Uninstall_Exit)"
: >"$root/provisioning.log"
run_installer remove
echo "--- provisioning documents processed: the policy asked for, then put back"
sed 's/^/    /' "$root/provisioning.log"
show_state "after removal: what stayed"
echo "    (gone: the client's files and the other deletable files, the empty"
echo "     Media folder, Temp with its files; kept: the read-only file and"
echo "     Outgoing with the order not yet sent)"
rm -rf "$root"
