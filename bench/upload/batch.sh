#!/usr/bin/env bash
# Times one torvin-upload command flashing 1, 4 and 16 simulated boards at once (monitor-sim
# --baud 115200 each, so that the line, not the host, sets the pace) with the embedded image, and
# prints for each count the wall time against one board's, the processor time torvin-upload spent
# per board and, for comparison, what each simulated board took from the same two processors.
# Target: 16 boards within 1.1 x the time of one. The load other programs put on the machine
# is printed too: the figures are only as quiet as the machine.
#
#   bench/upload/batch.sh [--runs N] [--counts "1 4 16"]
set -euo pipefail
cd "$(dirname "$0")/../.."

runs=3
counts="1 4 16"
while [[ $# -gt 0 ]]; do
    case "$1" in
        --runs) runs="$2"; shift 2 ;;
        --counts) counts="$2"; shift 2 ;;
        *) echo "usage: bench/upload/batch.sh [--runs N] [--counts \"1 4 16\"]" >&2; exit 64 ;;
    esac
done

if [[ ! -f build/build.ninja ]]; then
    scripts/build.sh
fi
cmake --build build --target torvin-upload monitor-sim >/dev/null
bin=build/bin

work="$(mktemp -d "${TMPDIR:-/tmp}/bench-batch.XXXXXX")"
sims=()
# Processor time (ms) the running simulators have used so far, summed: what the boards' side of the
# bench takes from the same two processors.
sims_cpu_ms() {
    local pid total=0 ticks
    for pid in "${sims[@]}"; do
        ticks=$(awk '{ print $14 + $15 }' "/proc/$pid/stat" 2>/dev/null || echo 0)
        total=$((total + ticks))
    done
    echo $((total * 1000 / $(getconf CLK_TCK)))
}

stop_sims() {
    local pid
    for pid in "${sims[@]}"; do kill "$pid" 2>/dev/null || true; done
    for pid in "${sims[@]}"; do wait "$pid" 2>/dev/null || true; done
    sims=()
}
cleanup() {
    stop_sims
    rm -rf "$work"
}
trap cleanup EXIT

# Starts N simulated boards; their serial ends are $work/tty1 ... $work/ttyN.
start_sims() {
    local n="$1" i
    for i in $(seq "$n"); do
        rm -f "$work/tty$i"
        "$bin/monitor-sim" --link "$work/tty$i" --baud 115200 >/dev/null 2>"$work/sim$i.err" &
        sims+=($!)
    done
    for i in $(seq "$n"); do
        for _ in $(seq 300); do
            [[ -e "$work/tty$i" ]] && break
            sleep 0.01
        done
        [[ -e "$work/tty$i" ]] || { echo "bench: monitor-sim did not start: $(cat "$work/sim$i.err")" >&2; exit 1; }
    done
}

# One command over N boards; prints "wall user system" in seconds. A failed run stops the bench.
timed_batch() {
    local n="$1" ports=() i
    for i in $(seq "$n"); do ports+=(--port "$work/tty$i"); done
    local TIMEFORMAT='%R %U %S'
    local t
    if ! t=$( { time "$bin/torvin-upload" --quiet "${ports[@]}" >"$work/out" 2>"$work/err"; } 2>&1 ); then
        echo "bench: torvin-upload over $n boards failed: $(cat "$work/err")" >&2
        tail -n "$((n + 1))" "$work/out" >&2
        exit 1
    fi
    echo "$t"
}

median() {
    sort -n | awk '{ v[NR] = $1 } END { if (NR % 2) print v[(NR + 1) / 2]; else print (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}

echo "torvin-upload over several simulated boards at once, 115200 baud modelled, embedded image"
echo "($(nproc) processors; medians of $runs runs; load before: $(cut -d' ' -f1-3 /proc/loadavg))"
echo
printf '%7s  %10s  %14s  %20s  %22s\n' boards "wall (s)" "against one" "processor per board" \
    "simulator per board"
one=""
for n in $counts; do
    start_sims "$n"
    timed_batch "$n" >/dev/null # warm-up, and the boards' ports opened once
    : >"$work/wall" && : >"$work/cpu"
    sim_before=$(sims_cpu_ms)
    for _ in $(seq "$runs"); do
        read -r wall user sys < <(timed_batch "$n")
        echo "$wall" >>"$work/wall"
        awk -v u="$user" -v s="$sys" -v n="$n" 'BEGIN { printf "%.4f\n", (u + s) / n }' >>"$work/cpu"
    done
    sim_cpu=$(( ($(sims_cpu_ms) - sim_before) / (n * runs) ))
    stop_sims
    wall=$(median <"$work/wall")
    cpu=$(median <"$work/cpu")
    [[ -n "$one" ]] || one="$wall"
    ratio=$(awk -v a="$wall" -v b="$one" 'BEGIN { printf "%.3f", a / b }')
    verdict=""
    [[ "$n" -gt 1 ]] && verdict=$(awk -v r="$ratio" 'BEGIN { print (r <= 1.1 ? "  within target 1.1" : "  MISSED target 1.1") }')
    printf '%7s  %10.2f  %13sx  %17.0f ms  %19s ms%s\n' "$n" "$wall" "$ratio" \
        "$(awk -v c="$cpu" 'BEGIN { print c * 1000 }')" "$sim_cpu" "$verdict"
done
