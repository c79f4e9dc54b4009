#!/usr/bin/env bash
# Builds everything with Clang, warnings as errors (code that only GCC accepts fails here), and
# runs the whole suite once under AddressSanitizer and UndefinedBehaviorSanitizer (build-asan/),
# the replay of every fuzz corpus included. A report from a test program, or from a program it
# starts, fails the test (see scripts/sanitized-run.sh).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/build-asan.sh
# This tree is also the check that Clang takes all the code: it must build every program the GCC
# tree has (benchmarks included), not only what the suite runs.
for program in build/bin/*; do
    name=$(basename "$program")
    if [[ -x $program && ! -e build-asan/bin/$name ]]; then
        echo "test-asan: build-asan/ has no $name: Clang never compiled it" >&2
        exit 1
    fi
done
scripts/run-tests.sh build-asan 600
