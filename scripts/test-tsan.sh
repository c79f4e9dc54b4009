#!/usr/bin/env bash
# Builds the threaded test programs with ThreadSanitizer into build-tsan/ (the "tsan" preset) and
# runs them; any reported race fails the run. Only the threading suites are built (no Qt program).
# Lightly optimised, as ThreadSanitizer advises, and with line tables for the reports' file:line
# rather than full debugging information: the tree compiles in little more than half the time.
set -euo pipefail
cd "$(dirname "$0")/.."
cmake --preset tsan >/dev/null
cmake --build --preset tsan -j "$(nproc)"
targets=(test_framework test_comport) # the build preset's targets

export TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1 ${TSAN_OPTIONS:-}"

# The sanitizer cannot map its shadow memory under the address layout some kernels randomise;
# then the program stops at once with "unexpected memory mapping", and runs with the layout fixed.
run() {
    local out status=0
    out=$("$@" 2>&1) || status=$?
    if ((status != 0)) && grep -q "unexpected memory mapping" <<<"$out"; then
        echo "test-tsan: address layout refused; running $1 again with randomisation off"
        status=0
        out=$(setarch "$(uname -m)" -R "$@" 2>&1) || status=$?
    fi
    if ((status != 0)); then
        echo "$out"
        echo "test-tsan: $1 failed under ThreadSanitizer" >&2
        return "$status"
    fi
    grep -E "^\[  (PASSED|SKIPPED) " <<<"$out" | sed "s|^|$(basename "$1"): |"
}

for t in "${targets[@]}"; do
    run "build-tsan/bin/$t"
done
