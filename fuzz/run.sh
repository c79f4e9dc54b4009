#!/usr/bin/env bash
# Fuzzes every target (or those named) for a while, seeded from fuzz/corpus/:
#   fuzz/run.sh [seconds per target, default 60] [target...]
# Builds build-asan/ as the test command does. Inputs that reach new code collect in
# build-asan/fuzz-runs/<target>/corpus/; a failing input is written there too, and the script
# prints its path and how to replay it. Exits non-zero when a target failed.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
shift || true
targets=("$@")
if ((${#targets[@]} == 0)); then
    for f in fuzz/*.cpp; do
        targets+=("$(basename "$f" .cpp)")
    done
fi
scripts/build-asan.sh >/dev/null

export LSAN_OPTIONS="suppressions=$PWD/scripts/lsan-suppressions.txt ${LSAN_OPTIONS:-}"
failed=0
for t in "${targets[@]}"; do
    work="build-asan/fuzz-runs/$t"
    mkdir -p "$work/corpus"
    rm -f "$work"/crash-* "$work"/leak-* "$work"/timeout-* "$work"/oom-*
    status=0
    "build-asan/bin/fuzz_$t" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
        -print_final_stats=1 -artifact_prefix="$work/" "$work/corpus" "fuzz/corpus/$t" \
        >"$work/log" 2>&1 || status=$?
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$work/log" | tail -1)
    rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$work/log" | tail -1)
    if ((status == 0)); then
        echo "fuzz: $t: ${runs:-?} executions in ${seconds} s (${rate:-?}/s), no failure"
        continue
    fi
    failed=1
    input=$(ls -t "$work"/crash-* "$work"/leak-* "$work"/timeout-* "$work"/oom-* 2>/dev/null | head -1 || true)
    echo "fuzz: $t: FAILED after ${runs:-?} executions (${rate:-?}/s)"
    echo "      input:  ${input:-none written, see the log}"
    echo "      log:    $work/log"
    [[ -n "$input" ]] && echo "      replay: build-asan/bin/fuzz_$t $input"
    grep -m3 -E "^$t: |ERROR: |runtime error" "$work/log" | sed 's/^/      /' || true
done
((failed == 0)) || echo "fuzz: once mended, keep each failing input as a seed in fuzz/corpus/<target>/"
exit "$failed"
