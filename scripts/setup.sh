#!/usr/bin/env bash
# Installs what is missing on a fresh Debian 12 machine:
#   scripts/setup.sh run   what building and running the programs needs (scripts/run.sh)
#   scripts/setup.sh       that and what the tests, the sanitizer and Windows trees and the
#                          packages need (scripts/test.sh)
# Safe to run again: it only calls apt-get when a package is missing.
set -euo pipefail

# The compilers and build tools, the programs' libraries (Qt for the window), the translations'
# tools, and srecord, which checks the board's memory after the run.
run_packages=(
    build-essential cmake ninja-build pkg-config
    qt6-base-dev libsqlite3-dev libudev-dev libcli11-dev nlohmann-json3-dev libssl-dev gettext
    srecord fonts-dejavu-core
)
# The tests and benchmarks, the virtual display of the window tests, the Clang sanitizer tree,
# the man pages, API reference and package checks, and the Windows cross build under Wine.
test_packages=(
    libgtest-dev libgmock-dev googletest libbenchmark-dev qt6-serialport-dev
    xvfb xauth fonts-liberation strace ccache
    clang libclang-rt-14-dev
    help2man groff-base doxygen lintian dpkg-dev
    g++-mingw-w64-x86-64-posix wine wine64 nsis
)

case ${1:-} in
run) packages=("${run_packages[@]}") ;;
"") packages=("${run_packages[@]}" "${test_packages[@]}") ;;
*)
    echo "usage: scripts/setup.sh [run]" >&2
    exit 64
    ;;
esac

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done

if ((${#missing[@]})); then
    if [[ $(id -u) -ne 0 ]]; then
        echo "setup: missing packages: ${missing[*]}; run this script as root to install them" >&2
        exit 1
    fi
    echo "setup: installing ${missing[*]}"
    apt-get update -qq
    # The main job takes what it needs and no more (Qt's GTK theme, for one, is not needed to run);
    # the full set installs as apt does by default.
    recommends=()
    [[ ${1:-} != run ]] || recommends=(--no-install-recommends)
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${recommends[@]}" "${missing[@]}"
fi
