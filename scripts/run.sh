#!/usr/bin/env bash
# The main job: builds, then runs a whole upload of the embedded firmware image.
# With a display ($DISPLAY set) the window opens on a simulated board; without one, the headless
# upload runs in the terminal.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
scripts/build.sh

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
exec build/bin/upload-demo "$@"
