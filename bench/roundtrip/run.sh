#!/usr/bin/env bash
# Runs the reply round-trip benchmark (bench/roundtrip/roundtrip.cpp says what it measures):
# builds it, prints the machine's load, and passes its arguments on, e.g.
#   bench/roundtrip/run.sh                      5 rounds of 20 000 round trips, system calls counted
#   bench/roundtrip/run.sh --rounds 9 --calls   more rounds, and the system calls by name
# On a busy machine the figures move; the rounds alternate so that the ratios stay fair.
set -euo pipefail
cd "$(dirname "$0")/../.."

if ! command -v strace >/dev/null; then
    echo "bench: strace is missing; run scripts/setup.sh as root, or pass --no-strace" >&2
    [[ " $* " == *" --no-strace "* ]] || exit 1
fi
if [[ ! -f build/build.ninja ]]; then
    scripts/build.sh
fi
cmake --build build --target bench_roundtrip >/dev/null
echo "uptime: $(uptime)"
exec build/bin/bench_roundtrip "$@"
