#!/usr/bin/env bash
# Cross-builds the Windows programs and tests with mingw-w64 into build-windows/ (programs in
# build-windows/bin/). Extra arguments go to cmake.
set -euo pipefail
cd "$(dirname "$0")/.."
launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
export CCACHE_BASEDIR=${CCACHE_BASEDIR:-$PWD} CCACHE_NOHASHDIR=${CCACHE_NOHASHDIR:-true}
cmake -S . -B build-windows -G Ninja "${launcher[@]}" -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
    -DCMAKE_BUILD_TYPE=Release -DWARNINGS_AS_ERRORS=ON "$@" >/dev/null
cmake --build build-windows -j "$(nproc)"
