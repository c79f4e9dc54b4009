#!/usr/bin/env bash
# The main job: installs what building and running the programs needs, builds the three programs
# (the "run" preset: no tests), then runs a whole upload of the embedded firmware image.
# With a display ($DISPLAY set) the window opens on a simulated board; without one, the upload
# runs in the terminal: torvin-upload over a pseudo-terminal into monitor-sim, then the board's
# memory is compared with the image.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh run
cmake --preset run >/dev/null
cmake --build --preset run -j "$(nproc)"

if [[ -n "${DISPLAY:-}" && -x build/bin/monitor-sim && -x build/bin/torvin-updater ]]; then
    link="$(mktemp -u "${TMPDIR:-/tmp}/torvin-board.XXXXXX")"
    build/bin/monitor-sim --link "$link" >/dev/null &
    sim=$!
    trap 'kill "$sim" 2>/dev/null || true; wait "$sim" 2>/dev/null || true' EXIT
    for _ in $(seq 100); do
        [[ -e "$link" ]] && break
        kill -0 "$sim" 2>/dev/null || { echo "run: the simulated board did not start" >&2; exit 1; }
        sleep 0.05
    done
    [[ -e "$link" ]] || { echo "run: the simulated board gave no serial line" >&2; exit 1; }
    echo "run: simulated board on $link (chosen in the window): press \"Abre Porta\", then \"Iniciar\"."
    build/bin/torvin-updater --port "$link" "$@"
    exit
fi

# Headless: a whole upload over a serial line, as a technician would run it on a real board
# (there: build/bin/torvin-upload --port COM1 or --port /dev/ttyUSB0).
work="$(mktemp -d "${TMPDIR:-/tmp}/torvin-run.XXXXXX")"
sim=""
stop_sim() {
    if [[ -n "$sim" ]]; then
        kill "$sim" 2>/dev/null || true # SIGTERM: the simulator saves what it holds, then ends
        wait "$sim" 2>/dev/null || true
        sim=""
    fi
}
trap 'stop_sim; rm -rf "$work"' EXIT

# The line is modelled at 115200 baud, so that the progress shows for a few seconds; a real board
# at 9600 baud takes about a minute.
build/bin/monitor-sim --baud 115200 --link "$work/ttyBoard" --save "$work/board.hex" \
    >/dev/null 2>"$work/sim.log" &
sim=$!
for _ in $(seq 100); do
    [[ -e "$work/ttyBoard" ]] && break
    kill -0 "$sim" 2>/dev/null || { echo "run: the simulated board did not start: $(cat "$work/sim.log")" >&2; exit 1; }
    sleep 0.05
done
[[ -e "$work/ttyBoard" ]] || { echo "run: the simulated board gave no serial line" >&2; exit 1; }

echo "run: simulated board (monitor-sim, line modelled at 115200 baud) on $(readlink "$work/ttyBoard"), as $work/ttyBoard"
echo "run: build/bin/torvin-upload --port $work/ttyBoard $*"
status=0
build/bin/torvin-upload --port "$work/ttyBoard" "$@" || status=$?
stop_sim

echo "run: torvin-upload ended with exit status $status"
echo "run: board: $(sed -n 's/^monitor-sim: //p' "$work/sim.log" | tail -1)"
if srec_cmp "$work/board.hex" -intel upload/firmware.hex -intel >"$work/cmp.log" 2>&1; then
    echo "run: the board's memory matches the image (srec_cmp: board.hex = upload/firmware.hex)"
else
    echo "run: the board's memory does NOT match the image:"
    grep -v 'warning: no end-of-file record' "$work/cmp.log" | head -20 | sed 's/^/    /'
    [[ $status -ne 0 ]] || status=1
fi
exit "$status"
