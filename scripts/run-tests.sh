#!/usr/bin/env bash
# Runs the suite of one build tree: scripts/run-tests.sh DIR TIMEOUT-SECONDS. The suites labelled
# "...-waits" run the real programs against the simulated board and spend their time waiting for
# its answers and time-outs, so they run three per processor core; the others compute, one per
# core. Both groups always run; the status is the first failure's.
set -uo pipefail
dir=$1 timeout=$2
cores=$(nproc)
status=0 second=0
ctest --test-dir "$dir" --output-on-failure --timeout "$timeout" -j $((3 * cores)) -L 'waits$' ||
    status=$?
ctest --test-dir "$dir" --output-on-failure --timeout "$timeout" -j "$cores" -LE 'waits$' ||
    second=$?
exit $((status ? status : second))
