#!/usr/bin/env bash
# The Windows pass: cross-builds build-windows/ (scripts/build-windows.sh), then runs its tests
# under Wine in a private prefix made for this run in a temporary folder: the component on
# pseudo-terminals that the prefix knows as COM ports, and torvin-upload.exe end to end against
# the Linux simulated board (build/bin/monitor-sim, from scripts/build.sh). Leaves the packages
# (ZIP files) in build-windows/packages/.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/build-windows.sh
cmake --build build-windows --target package >/dev/null

work=$(mktemp -d /tmp/torvin-wine.XXXXXX)
export WINEPREFIX=$work/prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" WINEARCH=win64
peer_pid=
cleanup() {
    [[ -n $peer_pid ]] && kill "$peer_pid" 2>/dev/null
    wineserver -k 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

# The prefix's server first and without the modem-line library, which belongs in the client only
# (tests/windows/wine-client.sh); it stays up for the whole run, so each test starts quickly.
mkdir "$WINEPREFIX"
wineserver -p >/dev/null 2>&1
wineboot -i >/dev/null 2>&1
# Wine links COM1 (and a COM name for every serial device it finds) to this machine's devices:
# /dev/ttyS0 is its console. The tests use the COM names they link to their own lines; every
# other one leads nowhere, here and in the registry from which Wine makes the links again.
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
ctest --test-dir build-windows --output-on-failure --timeout 300 || status=$?
# No COM name of the prefix reached one of this machine's serial devices during the tests.
for link in "$WINEPREFIX"/dosdevices/com*; do
    target=$(readlink "$link" || true)
    if [[ $target == /dev/tty* || $target == /dev/serial/* ]]; then
        echo "test-windows: ${link##*/} of the Wine prefix leads to $target" >&2
        status=1
    fi
done
exit $status
