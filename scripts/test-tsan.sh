#!/usr/bin/env bash
# Builds the threaded test programs with ThreadSanitizer into build-tsan/ and runs them; any
# reported race fails the run. Only the test programs are built (no Qt program).
set -euo pipefail
cd "$(dirname "$0")/.."

# Lightly optimised, as ThreadSanitizer advises, and with line tables for the reports' file:line
# rather than full debugging information: the tree compiles in little more than half the time.
flags="-O1 -g1 -DNDEBUG"
cmake -S . -B build-tsan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DWARNINGS_AS_ERRORS=ON \
    "-DCMAKE_C_FLAGS_RELWITHDEBINFO=$flags" "-DCMAKE_CXX_FLAGS_RELWITHDEBINFO=$flags" \
    -DSANITIZER=thread -DBUILD_APP=OFF -DCMAKE_GTEST_DISCOVER_TESTS_DISCOVERY_MODE=PRE_TEST \
    >/dev/null

# The threading suites; a folder without tests yet has no target.
available=$(cmake --build build-tsan --target help)
targets=()
for t in test_framework test_comport; do
    grep -q "^$t:" <<<"$available" && targets+=("$t")
done
cmake --build build-tsan -j "$(nproc)" --target "${targets[@]}"

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
