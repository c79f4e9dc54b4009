#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test suite: with GCC; with Clang (warnings as
# errors) under AddressSanitizer and UndefinedBehaviorSanitizer, with the fuzz corpora replayed;
# the threaded suites under ThreadSanitizer; then builds and checks the Debian packages. Each pass
# says how long it took.
#   scripts/test.sh --quick   the GCC pass alone: one build, the unit and process tests
set -euo pipefail
cd "$(dirname "$0")/.."

quick=false
case ${1:-} in
"") ;;
--quick) quick=true ;;
*)
    echo "usage: scripts/test.sh [--quick]" >&2
    exit 64
    ;;
esac

scripts/setup.sh

pass() {
    local name=$1 start=$SECONDS
    shift
    "$@"
    echo "test: $name pass: $((SECONDS - start)) s"
}
gcc_pass() {
    scripts/build.sh
    scripts/run-tests.sh build 300
}

pass GCC gcc_pass
if ! $quick; then
    pass Clang+ASan+UBSan scripts/test-asan.sh
    pass TSan scripts/test-tsan.sh
    # The Windows build under Wine; its end-to-end runs use the GCC tree's simulated board.
    pass Windows scripts/test-windows.sh
    # The Debian packages, the installed programs and the component installed for other programs.
    pass Package scripts/check-package.sh
fi
echo "test: all passes: $SECONDS s"
