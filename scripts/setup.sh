#!/usr/bin/env bash
# Installs what building, running and testing need on a fresh Debian 12 machine.
# Safe to run again: it only calls apt-get when a package is missing.
set -euo pipefail

packages=(
    build-essential cmake ninja-build pkg-config
    libgtest-dev libgmock-dev libbenchmark-dev
    qt6-base-dev libsqlite3-dev
    srecord xvfb xauth fonts-dejavu-core fonts-liberation
    clang libclang-rt-14-dev ccache
    libudev-dev libcli11-dev help2man groff-base doxygen lintian dpkg-dev
    nlohmann-json3-dev libssl-dev
    qt6-serialport-dev strace gettext
    g++-mingw-w64-x86-64-posix wine wine64 googletest nsis
)

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
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${missing[@]}"
fi
