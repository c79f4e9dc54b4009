#!/usr/bin/env bash
# Times whole uploads of the embedded firmware image into monitor-sim over a pseudo-terminal and
# prints the figures and ratios:
#   1. no line model: torvin-upload against the floor (upload-floor, a blocking single-thread host
#      doing the least the protocol allows), alternating, medians of --runs runs each;
#   2. monitor-sim --baud 115200 and --baud 9600: torvin-upload against the line-time limit, the
#      time the bytes need on the line at 10 bits a byte (command, records and replies).
# Targets: 1.2 x the floor, 1.05 x the limit at 115200, 1.02 x at 9600. The modelled lines run
# the floor as well, alternating. A 9600 baud upload takes about 52 s (twice per run: floor and
# torvin-upload); --slow-runs sets how many (0 leaves it out).
#   3. where the time goes, per record of one upload each without a line model: context switches
#      and processor time (perf stat), system calls and futex calls (strace -c, a run of its own
#      since tracing slows the process down). Target: at most 8 context switches a record. perf
#      and strace (Debian's linux-perf and strace) are installed when missing; --no-profile
#      leaves this part out.
#   4. a lossy line: monitor-sim --baud 9600 losing the first answer to every 50th item
#      (--silent K:1), torvin-upload's time against a clean 9600 baud run, and the board's memory
#      compared with the image (srec_cmp). Each lost answer costs at least the retry second;
#      --lossy-runs sets how many (0 leaves it out), --lossy-only runs this part alone.
#
#   bench/upload/run.sh [--runs N] [--fast-runs N] [--slow-runs N] [--lossy-runs N] [--lossy-only]
#                       [--no-profile]
set -euo pipefail
cd "$(dirname "$0")/../.."

runs=7
fast_runs=3
slow_runs=1
lossy_runs=1
lossy_only=0
profile=1
while [[ $# -gt 0 ]]; do
    case "$1" in
        --runs) runs="$2"; shift 2 ;;
        --fast-runs) fast_runs="$2"; shift 2 ;;
        --slow-runs) slow_runs="$2"; shift 2 ;;
        --lossy-runs) lossy_runs="$2"; shift 2 ;;
        --lossy-only) lossy_only=1; profile=0; shift ;;
        --no-profile) profile=0; shift ;;
        *) echo "usage: bench/upload/run.sh [--runs N] [--fast-runs N] [--slow-runs N] [--lossy-runs N] [--lossy-only] [--no-profile]" >&2; exit 64 ;;
    esac
done

if [[ "$profile" -eq 1 ]] && ! { command -v perf && command -v strace; } >/dev/null; then
    if [[ $(id -u) -ne 0 ]]; then
        echo "bench: perf and strace are missing; run as root to install them, or pass --no-profile" >&2
        exit 1
    fi
    apt-get update -qq
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq linux-perf strace >/dev/null
fi

if [[ ! -f build/build.ninja ]]; then
    scripts/build.sh
fi
cmake --build build --target torvin-upload upload-floor monitor-sim >/dev/null
bin=build/bin

work="$(mktemp -d "${TMPDIR:-/tmp}/bench-upload.XXXXXX")"
sim=""
cleanup() {
    if [[ -n "$sim" ]]; then kill "$sim" 2>/dev/null || true; wait "$sim" 2>/dev/null || true; fi
    rm -rf "$work"
}
trap cleanup EXIT

# Starts monitor-sim with the given options; its serial end is $work/tty.
start_sim() {
    rm -f "$work/tty"
    "$bin/monitor-sim" --link "$work/tty" "$@" >/dev/null 2>"$work/sim.err" &
    sim=$!
    for _ in $(seq 200); do
        [[ -e "$work/tty" ]] && return 0
        sleep 0.01
    done
    echo "bench: monitor-sim did not start: $(cat "$work/sim.err")" >&2
    exit 1
}

stop_sim() {
    kill "$sim" 2>/dev/null || true
    wait "$sim" 2>/dev/null || true
    sim=""
}

# Runs the command; prints its wall time in milliseconds. A run that fails stops the benchmark.
timed() {
    local t0 t1
    t0=$(date +%s%N)
    if ! "$@" >/dev/null 2>"$work/run.err"; then
        echo "bench: '$*' failed: $(cat "$work/run.err")" >&2
        exit 1
    fi
    t1=$(date +%s%N)
    echo $(((t1 - t0) / 1000))
}

median() {
    sort -n | awk '{ v[NR] = $1 } END { if (NR % 2) print v[(NR + 1) / 2]; else print (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}

ms() { awk -v us="$1" 'BEGIN { printf "%.1f ms", us / 1000 }'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.3f", a / b }'; }
verdict() { awk -v r="$1" -v t="$2" 'BEGIN { print (r <= t ? "within" : "MISSED") " target " t }'; }

# Bytes on the line for one whole upload: the command, every record (':' and the raw bytes of its
# line) and a three-byte reply to each item.
line_bytes="$("$bin/torvin-upload" --dump-image | awk '
    length($0) > 0 { bytes += 1 + (length($0) - 1) / 2; items++ }
    END { print 6 + bytes + 3 * (items + 1) }')"

items=$(( $("$bin/torvin-upload" --dump-image | grep -c .) + 1 )) # the records and the command

echo "Load before the runs: $(cut -d' ' -f1-3 /proc/loadavg) (1, 5, 15 min) on $(nproc) processors"
echo "Whole uploads of the embedded image (1974 records, $line_bytes bytes on the line) into monitor-sim"
echo

# --- 4. a lossy line -------------------------------------------------------------------------
lossy_line() {
    [[ "$lossy_runs" -gt 0 ]] || return 0
    local losses=() k
    for ((k = 50; k < items; k += 50)); do losses+=(--silent "$k:1"); done
    : >"$work/clean" && : >"$work/lossy"
    for _ in $(seq "$lossy_runs"); do
        start_sim --baud 9600
        timed "$bin/torvin-upload" --quiet --port "$work/tty" >>"$work/clean"
        stop_sim
        start_sim --baud 9600 --save "$work/board.hex" "${losses[@]}"
        timed "$bin/torvin-upload" --quiet --port "$work/tty" >>"$work/lossy"
        stop_sim
        "$bin/torvin-upload" --dump-image >"$work/image.hex"
        if ! srec_cmp "$work/board.hex" -intel "$work/image.hex" -intel >/dev/null 2>&1; then
            echo "bench: the lossy run left the board's memory different from the image" >&2
            exit 1
        fi
    done
    local c l
    c=$(median <"$work/clean")
    l=$(median <"$work/lossy")
    echo "monitor-sim --baud 9600, the first answer to every 50th item lost ($(( ${#losses[@]} / 2 )) losses), medians of $lossy_runs run(s):"
    echo "  clean line             $(ms "$c")"
    echo "  lossy line             $(ms "$l")   ratio to the clean line $(ratio "$l" "$c")"
    echo "  cost of one loss       $(awk -v l="$l" -v c="$c" -v n="${#losses[@]}" 'BEGIN { printf "%.2f s", (l - c) / (n / 2) / 1e6 }')   (the retry second alone: ratio $(awk -v c="$c" -v n="${#losses[@]}" 'BEGIN { printf "%.2f", (c + n / 2 * 1e6) / c }'))"
    echo "  the board's memory     exactly the image (srec_cmp)"
    echo
}
if [[ "$lossy_only" -eq 1 ]]; then
    lossy_line
    exit 0
fi

# --- 1. no line model: torvin-upload against the floor --------------------------------------
start_sim
timed "$bin/upload-floor" "$work/tty" >/dev/null # warm-up
: >"$work/floor" && : >"$work/tool"
for _ in $(seq "$runs"); do
    timed "$bin/upload-floor" "$work/tty" >>"$work/floor"
    timed "$bin/torvin-upload" --quiet --port "$work/tty" >>"$work/tool"
done
stop_sim
floor=$(median <"$work/floor")
tool=$(median <"$work/tool")
r=$(ratio "$tool" "$floor")
echo "No line model, medians of $runs alternating runs:"
echo "  floor (upload-floor)   $(ms "$floor")   [$(sort -n "$work/floor" | tr '\n' ' ')us]"
echo "  torvin-upload          $(ms "$tool")   [$(sort -n "$work/tool" | tr '\n' ' ')us]"
echo "  ratio                  $r   ($(verdict "$r" 1.2))"
echo

# --- 2. modelled lines: torvin-upload against the line-time limit --------------------------
# The floor runs here too: what it loses against the limit is the simulator's own timing (each
# answer waits for its moment in a timed sleep) and the wake-ups of any host, not torvin-upload's.
line_model() {
    local baud="$1" count="$2" target="$3"
    [[ "$count" -gt 0 ]] || return 0
    local limit
    limit=$(awk -v b="$line_bytes" -v r="$baud" 'BEGIN { printf "%d", b * 10 / r * 1e6 }')
    start_sim --baud "$baud"
    : >"$work/lfloor" && : >"$work/line"
    for _ in $(seq "$count"); do
        timed "$bin/upload-floor" "$work/tty" >>"$work/lfloor"
        timed "$bin/torvin-upload" --quiet --port "$work/tty" >>"$work/line"
    done
    stop_sim
    local t f r
    t=$(median <"$work/line")
    f=$(median <"$work/lfloor")
    r=$(ratio "$t" "$limit")
    echo "monitor-sim --baud $baud, medians of $count alternating run(s):"
    echo "  line-time limit        $(ms "$limit")"
    echo "  floor (upload-floor)   $(ms "$f")   ratio to the limit $(ratio "$f" "$limit")"
    echo "  torvin-upload          $(ms "$t")   [$(sort -n "$work/line" | tr '\n' ' ')us]"
    echo "  ratio to the limit     $r   ($(verdict "$r" "$target")); to the floor $(ratio "$t" "$f")"
    echo
}
line_model 115200 "$fast_runs" 1.05
line_model 9600 "$slow_runs" 1.02
lossy_line

# --- 3. where the time goes -------------------------------------------------------------------
# Counted over the whole process (all its threads), divided by the items sent (records and the
# command); each program runs once under perf and once under strace.
profile_one() {
    local name="$1"; shift
    if ! perf stat -x, -e context-switches,task-clock -o "$work/perf" -- "$@" >/dev/null 2>"$work/run.err"; then
        echo "bench: '$*' failed under perf: $(cat "$work/run.err")" >&2
        exit 1
    fi
    if ! strace -f -c -o "$work/strace" -- "$@" >/dev/null 2>"$work/run.err"; then
        echo "bench: '$*' failed under strace: $(cat "$work/run.err")" >&2
        exit 1
    fi
    awk -F, -v n="$items" -v name="$name" '
        $3 == "context-switches" { cs = $1 }
        $3 == "task-clock" { ms = $1 }
        END { printf "  %-22s %6.2f context switches  %6.1f us processor", name, cs / n, ms * 1000 / n }' "$work/perf"
    # strace -c: the "total" line holds all calls; futex has a line of its own when called.
    awk -v n="$items" '
        $NF == "futex" { futex = ($4 ~ /^[0-9]+$/) ? $4 : $5 }
        $NF == "total" { total = $(NF - 2) ~ /^[0-9]+$/ && $(NF - 1) ~ /^[0-9]+$/ ? $(NF - 2) : $(NF - 1) }
        END { printf "  %6.2f system calls  %5.2f futex calls\n", total / n, futex / n }' "$work/strace"
}
if [[ "$profile" -eq 1 ]]; then
    start_sim
    echo "Per item sent ($items: the command and the records), one upload each, no line model:"
    profile_one "floor (upload-floor)" "$bin/upload-floor" "$work/tty"
    profile_one "torvin-upload" "$bin/torvin-upload" --quiet --port "$work/tty"
    stop_sim
    echo "  target: at most 8 context switches a record"
fi
