#!/usr/bin/env bash
# Configures and builds into build/ (binaries in build/bin/), one job per processor core. Extra
# arguments go to cmake.
set -euo pipefail
cd "$(dirname "$0")/.."
# ccache keeps a second build (another clone, a sanitizer tree) from compiling unchanged files again.
launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
# Paths relative to the tree and the working folder left out of the hash, so that clones share.
export CCACHE_BASEDIR=${CCACHE_BASEDIR:-$PWD} CCACHE_NOHASHDIR=${CCACHE_NOHASHDIR:-true}
cmake -S . -B build -G Ninja "${launcher[@]}" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_INSTALL_PREFIX=/usr -DWARNINGS_AS_ERRORS=ON "$@" >/dev/null
cmake --build build -j "$(nproc)"
