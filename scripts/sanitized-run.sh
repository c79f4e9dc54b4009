#!/usr/bin/env bash
# Runs one program of the AddressSanitizer tree (CTest starts every test through it) so that a
# report from the program or from any program it starts (monitor-sim, torvin-upload) fails the
# test: each report goes to a file in a folder of this run's own, and a run that leaves one
# fails with its text, whatever the exit status was.
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
reports=$(mktemp -d "${TMPDIR:-/tmp}/sanitizer-reports.XXXXXX") || exit 1
trap 'rm -rf "$reports"' EXIT

log="log_path=$reports/report"
export ASAN_OPTIONS="$log detect_leaks=1 detect_stack_use_after_return=1 check_initialization_order=1 ${ASAN_OPTIONS:-}"
export UBSAN_OPTIONS="$log print_stacktrace=1 halt_on_error=1 ${UBSAN_OPTIONS:-}"
export LSAN_OPTIONS="suppressions=$here/lsan-suppressions.txt print_suppressions=0 ${LSAN_OPTIONS:-}"

"$@"
status=$?
shopt -s nullglob
found=("$reports"/report.*)
if ((${#found[@]})); then
    for f in "${found[@]}"; do
        echo "==== sanitizer report of process ${f##*.}, started under $(basename "$1") ===="
        cat "$f"
    done >&2
    ((status != 0)) || status=1
fi
exit "$status"
