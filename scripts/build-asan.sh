#!/usr/bin/env bash
# Builds with Clang under AddressSanitizer and UndefinedBehaviorSanitizer into build-asan/: every
# program, test, benchmark and fuzz target, warnings as errors, so that this tree is also the
# check that Clang accepts all the code GCC does. CTest there starts every program through
# scripts/sanitized-run.sh. A second run rebuilds only what changed.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/build-tree.sh build-asan -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
    -DSANITIZER=address,undefined -DBUILD_FUZZERS=ON -DBUILD_BENCH=ON \
    "-DCMAKE_CROSSCOMPILING_EMULATOR=$PWD/scripts/sanitized-run.sh"
