#!/usr/bin/env bash
# Runs the suite of one build tree: scripts/run-tests.sh DIR TIMEOUT-SECONDS. The suites labelled
# "...-waits" run the real programs against the simulated board and spend their time waiting for
# its answers and time-outs, so they run three per processor core; the others compute, one per
# core. The runs whose board answers within a tenth of a second of the uploader's retry (the
# answer-timing suite) model the machine's own delays: a loaded machine would add its own to
# theirs, so they run last, one at a time. Every group always runs; the status is the first
# failure's.
set -uo pipefail
dir=$1 timeout=$2
cores=$(nproc)
timing='^TorvinUploadAnswerTiming'
status=0 second=0 third=0
ctest --test-dir "$dir" --output-on-failure --timeout "$timeout" -j $((3 * cores)) -L 'waits$' \
    -E "$timing" || status=$?
ctest --test-dir "$dir" --output-on-failure --timeout "$timeout" -j "$cores" -LE 'waits$' \
    -E "$timing" || second=$?
# A tree without the suite has nothing to run here.
if ctest --test-dir "$dir" -N -R "$timing" | grep -q 'Test *#'; then
    ctest --test-dir "$dir" --output-on-failure --timeout "$timeout" -j 1 -R "$timing" || third=$?
fi
exit $((status ? status : second ? second : third))
