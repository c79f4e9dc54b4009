#!/usr/bin/env bash
# The Windows pass: cross-builds build-windows/ (scripts/build-windows.sh), then runs its tests
# under Wine in a private prefix made for this run in a temporary folder: the component on
# pseudo-terminals that the prefix knows as COM ports, torvin-upload.exe and the window
# torvin-updater.exe end to end against the Linux simulated board (build/bin/monitor-sim, from
# scripts/build.sh), and the installer. The windows run on a virtual X display (Xvfb, started and
# stopped here) in Wine's own desktop of 1280 x 800, which draws the windows' frames. Leaves the
# packages (ZIP files and the installer) in build-windows/packages/ and pictures of the windows in
# build/screenshots/. Extra arguments go to ctest.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/build-windows.sh
cmake --build build-windows --target package >/dev/null

work=$(mktemp -d /tmp/torvin-wine.XXXXXX)
# No menu entries or file associations for this user from what the tests install.
export WINEPREFIX=$work/prefix WINEDEBUG=-all WINEARCH=win64
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
peer_pid= x_pid=
cleanup() {
    [[ -n $peer_pid ]] && kill "$peer_pid" 2>/dev/null
    wineserver -k 2>/dev/null || true
    [[ -n $x_pid ]] && kill "$x_pid" 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT

# Windows need a display: a virtual one, on the first free number, for this run only.
exec {x_fd}< <(exec Xvfb -displayfd 1 -screen 0 1280x800x24 -nolisten tcp 2>/dev/null </dev/null)
x_pid=$!
read -r x_display <&"$x_fd" || { echo "test-windows: Xvfb did not start" >&2; exit 1; }
export DISPLAY=:$x_display

# The prefix's server first and without the modem-line library, which belongs in the client only
# (tests/windows/wine-client.sh); it stays up for the whole run, so each test starts quickly.
mkdir "$WINEPREFIX"
wineserver -p >/dev/null 2>&1
wineboot -i >/dev/null 2>&1

# Wine's own desktop draws the windows' frames; with no window manager on the display, windows are
# left unmanaged so that Wine does not wait for one (two seconds) each time a window is hidden.
cat >"$work/desktop.reg" <<'REG'
Windows Registry Editor Version 5.00

[HKEY_CURRENT_USER\Software\Wine\Explorer]
"Desktop"="Default"

[HKEY_CURRENT_USER\Software\Wine\Explorer\Desktops]
"Default"="1280x800"

[HKEY_CURRENT_USER\Software\Wine\X11 Driver]
"Managed"="N"
REG
wine regedit /S "$(sed 's|/|\\|g' <<<"Z:$work/desktop.reg")" >/dev/null 2>&1
# The desktop already running was made without these: the server starts again and the prefix is
# booted again (without the boot, a console program's exit waits for services that never come),
# which brings up the desktop, now Wine's own.
wineserver -k 2>/dev/null || true
wineserver -w
wineserver -p >/dev/null 2>&1
wineboot >/dev/null 2>&1
# At each boot Wine links a COM name to every serial device of this machine it finds (COM1, or the
# first free name, to /dev/ttyS0, its console). The tests link the COM names they use to their own
# lines; every other one leads nowhere, here and in the registry from which Wine makes the links.
point_com_ports_nowhere() {
    local link name
    for link in "$WINEPREFIX"/dosdevices/com*; do
        [[ -L $link ]] || continue
        name=${link##*/}
        wine reg add 'HKLM\Software\Wine\Ports' /v "${name^^}" /d /dev/null /f >/dev/null 2>&1
        ln -sfn /dev/null "$link"
    done
}
point_com_ports_nowhere

# The far ends of the component tests' lines.
exec {peer_out}< <(exec build-windows/host/pty-peer "$WINEPREFIX/dosdevices" </dev/null)
peer_pid=$!
read -r TORVIN_PTY_PEER_PORT <&"$peer_out"
export TORVIN_PTY_PEER_PORT TORVIN_WINE_PRELOAD=$PWD/build-windows/host/modem-lines.so
status=0
ctest --test-dir build-windows --output-on-failure --timeout 300 "$@" || status=$?
# No COM name of the prefix reached one of this machine's serial devices during the tests.
for link in "$WINEPREFIX"/dosdevices/com*; do
    target=$(readlink "$link" || true)
    if [[ $target == /dev/tty* || $target == /dev/serial/* ]]; then
        echo "test-windows: ${link##*/} of the Wine prefix leads to $target" >&2
        status=1
    fi
done
exit $status
