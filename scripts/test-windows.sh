#!/usr/bin/env bash
# The Windows pass: cross-builds build-windows/ (scripts/build-windows.sh), then runs its tests
# under Wine in a private prefix made for this run in a temporary folder: the component on
# pseudo-terminals that the prefix knows as COM ports, torvin-upload.exe and the window
# torvin-updater.exe end to end against the Linux simulated board (build/bin/monitor-sim, from
# scripts/build.sh). The window runs on a virtual X display (Xvfb, started and stopped here) in
# Wine's own desktop of 1280 x 800, which draws the windows' frames. Leaves the packages (ZIP
# files) in build-windows/packages/ and pictures of the windows in build/screenshots/.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/build-windows.sh
cmake --build build-windows --target package >/dev/null

work=$(mktemp -d /tmp/torvin-wine.XXXXXX)
export WINEPREFIX=$work/prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" WINEARCH=win64
peer_pid= xvfb_pid=
cleanup() {
    [[ -n $peer_pid ]] && kill "$peer_pid" 2>/dev/null
    wineserver -k 2>/dev/null || true
    [[ -n $xvfb_pid ]] && kill "$xvfb_pid" 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT

# The prefix's server first and without the modem-line library, which belongs in the client only
# (tests/windows/wine-client.sh); it stays up for the whole run, so each test starts quickly.
mkdir "$WINEPREFIX"
# The display: the first free number, told by Xvfb itself.
exec {xvfb_out}< <(exec Xvfb -displayfd 1 -screen 0 1280x800x24 -nolisten tcp 2>/dev/null </dev/null)
xvfb_pid=$!
read -r display <&"$xvfb_out"
export DISPLAY=:$display
wineserver -p >/dev/null 2>&1
wineboot -i >/dev/null 2>&1
# Wine links COM1 to the machine's first serial device, here its console: every COM name points
# at /dev/null until a test links one to its own line.
for n in $(seq 1 32); do ln -sfn /dev/null "$WINEPREFIX/dosdevices/com$n"; done
cat >"$work/desktop.reg" <<'REG'
Windows Registry Editor Version 5.00

[HKEY_CURRENT_USER\Software\Wine\Explorer]
"Desktop"="Default"

[HKEY_CURRENT_USER\Software\Wine\Explorer\Desktops]
"Default"="1280x800"
REG
wine regedit /S "$(sed 's|/|\\|g' <<<"Z:$work/desktop.reg")" >/dev/null 2>&1
# The desktop already running was made without it: the server starts again and the prefix is
# booted again (without the boot, a console program's exit waits for services that never come),
# which brings up the desktop, now Wine's own.
wineserver -k 2>/dev/null || true
wineserver -w
wineserver -p >/dev/null 2>&1
wineboot >/dev/null 2>&1
# The far ends of the component tests' lines.
exec {peer_out}< <(exec build-windows/host/pty-peer "$WINEPREFIX/dosdevices" </dev/null)
peer_pid=$!
read -r TORVIN_PTY_PEER_PORT <&"$peer_out"
export TORVIN_PTY_PEER_PORT TORVIN_WINE_PRELOAD=$PWD/build-windows/host/modem-lines.so
ctest --test-dir build-windows --output-on-failure --timeout 300 "$@"
