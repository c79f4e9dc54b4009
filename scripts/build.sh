#!/usr/bin/env bash
# Configures and builds into build/ (binaries in build/bin/), one job per processor core: the
# "gcc" preset of CMakePresets.json. Extra arguments go to cmake.
set -euo pipefail
cd "$(dirname "$0")/.."
cmake --preset gcc "$@" >/dev/null
cmake --build --preset gcc -j "$(nproc)"
