#!/usr/bin/env bash
# torvin-upload.exe under Wine against the Linux simulated board: a whole upload that leaves the
# board's memory exactly the image (srec_cmp) and logs the image's SHA-256, and the statuses of a
# silent (2), a refusing (4) and a vanishing (5) board. The image is the first 300 records of the
# product's (Wine makes every serial call slow, and all records travel the same way).
#   end_to_end.sh MONITOR-SIM TORVIN-UPLOAD.EXE FIRMWARE.HEX
set -uo pipefail
sim=$1 exe=$2 image=$3
client=$(dirname "$0")/wine-client.sh
: "${WINEPREFIX:?run through scripts/test-windows.sh}"
if [[ ! -x $sim ]]; then
    echo "end_to_end: $sim is missing: build the Linux tree first (scripts/build.sh)" >&2
    exit 1
fi
work=$(mktemp -d /tmp/torvin-e2e.XXXXXX)
sim_pid=
cleanup() {
    [[ -n $sim_pid ]] && kill "$sim_pid" 2>/dev/null && wait "$sim_pid" 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT
failures=0
link=$WINEPREFIX/dosdevices/com7
windowsPath() { echo "Z:${1//\//\\}"; }
{ head -n 300 "$image"; echo ":00000001FF"; } >"$work/image.hex"

# One board: the simulator with the given faults on COM7, the uploader until it ends.
run() {
    local want=$1
    shift
    rm -f "$work/board.hex" "$link"
    # The line of a real board: Windows cannot tell that COM7 is a pseudo-terminal, so the
    # uploader counts with the line time of 9600 baud, and the board answers no earlier.
    "$sim" --link "$link" --save "$work/board.hex" --once --baud 9600 "$@" >"$work/sim.out" \
        2>"$work/sim.err" &
    sim_pid=$!
    for _ in $(seq 200); do [[ -L $link ]] && break; sleep 0.02; done
    "$client" "$exe" --port COM7 --quiet --image "$(windowsPath "$work/image.hex")" \
        --log "$(windowsPath "$work/run.jsonl")" >"$work/out" 2>&1
    local got=$?
    kill "$sim_pid" 2>/dev/null
    wait "$sim_pid" 2>/dev/null
    sim_pid=
    if [[ $got != "$want" ]]; then
        echo "FAIL: board ${*:-without faults}: status $got, expected $want" >&2
        cat "$work/out" "$work/sim.err" >&2
        failures=$((failures + 1))
        return 1
    fi
    echo "ok: board ${*:-without faults}: status $got: $(head -n 1 "$work/out")"
}

start=$SECONDS
if run 0; then
    if srec_cmp "$work/board.hex" -intel "$work/image.hex" -intel >/dev/null; then
        echo "ok: the board holds exactly the image ($((SECONDS - start)) s for the upload)"
    else
        echo "FAIL: the board's memory differs from the image" >&2
        failures=$((failures + 1))
    fi
    sum=$(sha256sum "$work/image.hex" | cut -d' ' -f1)
    if grep -q "\"image_sha256\":\"$sum\"" "$work/run.jsonl"; then
        echo "ok: the run's record has the image's SHA-256"
    else
        echo "FAIL: the run's record lacks the image's SHA-256 $sum:" >&2
        cat "$work/run.jsonl" >&2
        failures=$((failures + 1))
    fi
fi
run 2 --silent 3:5
run 4 --reject 2:4
run 5 --vanish 4
exit $((failures > 0))
