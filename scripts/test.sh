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

# The builds of the later trees need nothing from the earlier ones. Each starts beside the pass
# before it, at a low priority, on the processor time that pass's tests leave while they wait for
# the simulated board: the ASan tree beside the GCC tests, the TSan tree beside the ASan tests, the
# Windows tree (lowest) beside all of them. The pass that needs a tree waits for its build, then
# builds what is left (nothing, or what the build could not finish). Each build's output goes to a
# file of its own, shown when it fails.
declare -A build_pid=() build_log=()
stop_builds() {
    local name
    for name in "${!build_pid[@]}"; do
        kill -- "-${build_pid[$name]}" 2>/dev/null || true
        wait "${build_pid[$name]}" 2>/dev/null || true
    done
    for name in "${!build_log[@]}"; do
        rm -f "${build_log[$name]}"
    done
}
trap stop_builds EXIT
trap 'exit 130' INT
trap 'exit 143' TERM
# start_build NAME NICENESS COMMAND...
start_build() {
    local name=$1 niceness=$2
    shift 2
    build_log[$name]=$(mktemp "${TMPDIR:-/tmp}/torvin-build.XXXXXX")
    # A process group of its own (job control on for the start), so that the whole build, ninja and
    # its compilers, can be stopped; not a session of its own, which the kernel's automatic task
    # groups would weigh as much as the passes and so make the low priority mean nothing.
    set -m
    # shellcheck disable=SC2016 # expanded by the inner shell
    nice -n "$niceness" bash -c 'start=$SECONDS; name=$1; shift; "$@" || exit
        echo "test: $name build, beside the passes before: $((SECONDS - start)) s"' \
        bash "$name" "$@" >"${build_log[$name]}" 2>&1 </dev/null &
    build_pid[$name]=$!
    set +m
}
# wait_build NAME: waits for the build started beside the passes before.
wait_build() {
    local name=$1 status=0
    [[ -n ${build_pid[$name]:-} ]] || return 0
    wait "${build_pid[$name]}" || status=$?
    unset "build_pid[$name]"
    if ((status)); then
        cat "${build_log[$name]}" >&2
        echo "test: the $name build failed (above)" >&2
        return "$status"
    fi
    tail -n 1 "${build_log[$name]}"
}

gcc_pass() {
    scripts/build.sh
    if ! $quick; then
        start_build ASan 10 scripts/build-asan.sh
        start_build Windows 19 scripts/build-windows.sh
    fi
    scripts/run-tests.sh build 300
}
asan_pass() {
    wait_build ASan
    start_build TSan 10 bash -c 'cmake --preset tsan >/dev/null && cmake --build --preset tsan -j "$(nproc)"'
    scripts/test-asan.sh
}
tsan_pass() {
    wait_build TSan
    scripts/test-tsan.sh
}
windows_pass() {
    wait_build Windows
    scripts/test-windows.sh
}

pass GCC gcc_pass
if ! $quick; then
    pass Clang+ASan+UBSan asan_pass
    pass TSan tsan_pass
    # The Windows build under Wine; its end-to-end runs use the GCC tree's simulated board.
    pass Windows windows_pass
    # The Debian packages, the installed programs and the component installed for other programs.
    pass Package scripts/check-package.sh
fi
echo "test: all passes: $SECONDS s"
