#!/usr/bin/env bash
# torvin-upload.exe in a real console (wineconsole), the console's screen read back by
# console-screen.exe: --version, and a short upload into the Linux simulated board with its
# progress and outcome, are shown where the technician looks.
#   console_output.sh MONITOR-SIM TORVIN-UPLOAD.EXE CONSOLE-SCREEN.EXE FIRMWARE.HEX
set -uo pipefail
sim=$1 exe=$2 screen=$3 image=$4
: "${WINEPREFIX:?run through scripts/test-windows.sh}" "${DISPLAY:?run through scripts/test-windows.sh}"
work=$(mktemp -d /tmp/torvin-console.XXXXXX)
sim_pid=
cleanup() {
    [[ -n $sim_pid ]] && kill "$sim_pid" 2>/dev/null && wait "$sim_pid" 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT
failures=0
link=$WINEPREFIX/dosdevices/com6
windowsPath() { echo "Z:${1//\//\\}"; }
{ head -n 20 "$image"; echo ":00000001FF"; } >"$work/image.hex"

# shows WHAT PATTERN... -- ARGUMENT...: torvin-upload.exe run with the arguments in a console of
# its own; each pattern must be on the screen it leaves.
shows() {
    local what=$1
    shift
    local patterns=()
    while [[ $1 != -- ]]; do patterns+=("$1"); shift; done
    shift
    rm -f "$work/screen.txt"
    LD_PRELOAD=$TORVIN_WINE_PRELOAD wineconsole "$screen" "$(windowsPath "$work/screen.txt")" \
        "$exe" "$@" >/dev/null 2>&1
    local p
    for p in "${patterns[@]}"; do
        if ! grep -q -- "$p" "$work/screen.txt" 2>/dev/null; then
            echo "FAIL: $what: the console does not show \"$p\"; it shows:" >&2
            cat "$work/screen.txt" >&2 2>/dev/null
            failures=$((failures + 1))
            return
        fi
    done
    echo "ok: $what: the console shows ${patterns[*]}"
}

shows "--version" "^torvin-upload [0-9]" "^status 0$" -- --version
rm -f "$link"
"$sim" --link "$link" --once --baud 9600 >"$work/sim.out" 2>"$work/sim.err" &
sim_pid=$!
for _ in $(seq 200); do [[ -L $link ]] && break; sleep 0.02; done
shows "an upload" "sending 20 records" "TRANSMISSÃO CONCLUIDA" "^status 0$" -- \
    --port COM6 --image "$(windowsPath "$work/image.hex")"
exit $((failures > 0))
