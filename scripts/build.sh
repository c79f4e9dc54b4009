#!/usr/bin/env bash
# Configures and builds into build/ (binaries in build/bin/). Extra arguments go to cmake.
set -euo pipefail
cd "$(dirname "$0")/.."
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DWARNINGS_AS_ERRORS=ON "$@" >/dev/null
cmake --build build
