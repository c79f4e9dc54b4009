#!/usr/bin/env bash
# Runs the whole suite once under AddressSanitizer and UndefinedBehaviorSanitizer (build-asan/),
# the replay of every fuzz corpus included. A report from a test program, or from a program it
# starts, fails the test (see scripts/sanitized-run.sh).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/build-asan.sh
ctest --test-dir build-asan --output-on-failure -j2 --timeout 600
