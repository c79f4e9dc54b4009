#!/usr/bin/env bash
# torvin-updater.exe under Wine, worked by window-driver.exe from outside its process: a whole
# upload through the window into the Linux simulated board (srec_cmp-exact), a silent board, a
# line that breaks mid-run and the board back for the next run (srec_cmp-exact), the options, and
# the change log at a scale of 2 on the 1280 x 800 screen that scripts/test-windows.sh gives the
# prefix.
#   window_end_to_end.sh MONITOR-SIM TORVIN-UPDATER.EXE WINDOW-DRIVER.EXE FIRMWARE.HEX SHOTS
set -uo pipefail
sim=$1 exe=$2 driver=$3 image=$4 shots=$5
client=$(dirname "$0")/wine-client.sh
: "${WINEPREFIX:?run through scripts/test-windows.sh}" "${DISPLAY:?run through scripts/test-windows.sh}"
if [[ ! -x $sim ]]; then
    echo "window_end_to_end: $sim is missing: build the Linux tree first (scripts/build.sh)" >&2
    exit 1
fi
work=$(mktemp -d /tmp/torvin-window.XXXXXX)
sim_pid=
cleanup() {
    [[ -n $sim_pid ]] && kill "$sim_pid" 2>/dev/null && wait "$sim_pid" 2>/dev/null
    wine reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d 96 /f >/dev/null 2>&1
    rm -rf "$work"
}
trap cleanup EXIT
failures=0
link=$WINEPREFIX/dosdevices/com8
windowsPath() { echo "Z:${1//\//\\}"; }
mkdir -p "$shots"

# The board on COM8 with the given faults; the driver's run against it. With "--many" first it
# stays for the next window's run rather than end when the window closes the line.
board() {
    local once=--once
    [[ $1 == --many ]] && once= && shift
    rm -f "$work/board.hex" "$link"
    # The board takes 30 ms over each record, more than its 22 bytes take at 9600 baud, so
    # that no answer comes sooner than the line allows, counted from when the record was really
    # written (the simulator's own line model, --baud, can answer early on a busy machine).
    "$sim" --link "$link" --save "$work/board.hex" $once --delay-ms 30 "$@" >"$work/sim.out" \
        2>"$work/sim.err" &
    sim_pid=$!
    for _ in $(seq 200); do [[ -L $link ]] && break; sleep 0.02; done
}
endBoard() {
    kill "$sim_pid" 2>/dev/null
    wait "$sim_pid" 2>/dev/null
    sim_pid=
}
drive() {
    "$client" "$driver" "$@" 2>"$work/driver.err" || {
        failures=$((failures + 1))
        cat "$work/driver.err" "$work/sim.err" >&2
    }
}

start=$SECONDS
# The command's answer waits as long as a record's does: the processing time counts for records.
board --stall 0:30
drive upload "$(windowsPath "$exe")" COM8 "$(windowsPath "$shots")"
endBoard
if srec_cmp "$work/board.hex" -intel "$image" -intel >/dev/null 2>&1; then
    echo "ok: the board holds exactly the image ($((SECONDS - start)) s for the run)"
else
    echo "FAIL: the board's memory differs from the image" >&2
    failures=$((failures + 1))
fi

board --many --silent 0:99
drive silent "$(windowsPath "$exe")" COM8
endBoard

# The line breaks mid-run (the board closes its end); the board comes back on the same port and
# the window's next run must leave it holding the image.
start=$SECONDS
board --stall 0:30 --vanish 20
"$client" "$driver" broken "$(windowsPath "$exe")" COM8 "$(windowsPath "$work")" \
    2>"$work/driver.err" &
driver_pid=$!
for _ in $(seq 1200); do [[ -e $work/broken ]] && break; sleep 0.1; done
endBoard
board --stall 0:30
touch "$work/back"
wait "$driver_pid" || {
    failures=$((failures + 1))
    cat "$work/driver.err" "$work/sim.err" >&2
}
endBoard
if srec_cmp "$work/board.hex" -intel "$image" -intel >/dev/null 2>&1; then
    echo "ok: after the broken line the board holds exactly the image ($((SECONDS - start)) s)"
else
    echo "FAIL: after the broken line the board's memory differs from the image" >&2
    failures=$((failures + 1))
fi

# The options answer in the console the program was started from; exit statuses as on Linux.
option() {
    local want=$1 pattern=$2
    shift 2
    local out status
    out=$(wine "$exe" "$@" 2>&1)
    status=$?
    if [[ $status == "$want" ]] && grep -q -- "$pattern" <<<"$out"; then
        echo "ok: $* answers \"$pattern\", status $status"
    else
        echo "FAIL: $*: status $status (expected $want), said: $out" >&2
        failures=$((failures + 1))
    fi
}
option 0 "^torvin-updater [0-9]" --version
option 0 "--port <NAME>" --help
option 0 "Usage: torvin-updater" -h
option 1 "Unknown option 'frobnicate'" --frobnicate
option 1 "Missing value after '--port'" --port
drive help "$(windowsPath "$exe")"

# At a scale of 2 the change log is larger than the screen: it must still fit, title bar and all.
wine reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d 192 /f >/dev/null 2>&1
drive changelog "$(windowsPath "$exe")"
exit $((failures > 0))
