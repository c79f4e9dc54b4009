#!/usr/bin/env bash
# Builds with Clang under AddressSanitizer and UndefinedBehaviorSanitizer into build-asan/ (the
# "asan" preset): every program, test, benchmark and fuzz target, warnings as errors, so that this
# tree is also the check that Clang accepts all the code GCC does. CTest there starts every
# program through scripts/sanitized-run.sh. A second run rebuilds only what changed.
#
# Without optimisation, and with line tables for the reports' file:line rather than full debugging
# information: the tree compiles in a third of the time. The sanitizers check no less unoptimised
# (nothing is optimised away before they see it), Clang's warnings do not depend on optimisation,
# and the suite here mostly waits, so it runs no slower.
set -euo pipefail
cd "$(dirname "$0")/.."
cmake --preset asan "$@" >/dev/null
cmake --build --preset asan -j "$(nproc)"
