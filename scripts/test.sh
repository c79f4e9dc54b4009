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

# The Windows cross build needs nothing from the other trees. It starts once the GCC tree is built
# and runs at the lowest priority beside the passes that follow, on the processor time their
# tests leave while they wait for the simulated board; the Windows pass then waits for it. Its
# output goes to a file of its own, shown when it fails.
windows_pid="" windows_log=""
stop_windows_build() {
    if [[ -n $windows_pid ]]; then
        kill -- "-$windows_pid" 2>/dev/null || true
        wait "$windows_pid" 2>/dev/null || true
    fi
    [[ -z $windows_log ]] || rm -f "$windows_log"
}
trap stop_windows_build EXIT
trap 'exit 130' INT
trap 'exit 143' TERM
start_windows_build() {
    windows_log=$(mktemp "${TMPDIR:-/tmp}/torvin-windows-build.XXXXXX")
    # A process group of its own (job control on for the start), so that the whole build, ninja and
    # its compilers, can be stopped; not a session of its own, which the kernel's automatic task
    # groups would weigh as much as the passes and so make the lowest priority mean nothing.
    set -m
    # shellcheck disable=SC2016 # expanded by the inner shell
    nice -n 19 bash -c 'start=$SECONDS; scripts/build-windows.sh || exit
        echo "test: Windows build, beside the passes before: $((SECONDS - start)) s"' \
        >"$windows_log" 2>&1 </dev/null &
    windows_pid=$!
    set +m
}
windows_pass() {
    local status=0
    wait "$windows_pid" || status=$?
    windows_pid=""
    if ((status)); then
        cat "$windows_log" >&2
        echo "test: the Windows build failed (above)" >&2
        return "$status"
    fi
    tail -n 1 "$windows_log"
    scripts/test-windows.sh
}

gcc_pass() {
    scripts/build.sh
    $quick || start_windows_build
    scripts/run-tests.sh build 300
}

pass GCC gcc_pass
if ! $quick; then
    pass Clang+ASan+UBSan scripts/test-asan.sh
    pass TSan scripts/test-tsan.sh
    # The Windows build under Wine; its end-to-end runs use the GCC tree's simulated board.
    pass Windows windows_pass
    # The Debian packages, the installed programs and the component installed for other programs.
    pass Package scripts/check-package.sh
fi
echo "test: all passes: $SECONDS s"
