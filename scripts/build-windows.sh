#!/usr/bin/env bash
# Cross-builds the Windows programs and tests with mingw-w64 into build-windows/ (programs in
# build-windows/bin/): the "windows" preset of CMakePresets.json. Extra arguments go to cmake.
set -euo pipefail
cd "$(dirname "$0")/.."
cmake --preset windows "$@" >/dev/null
cmake --build --preset windows -j "$(nproc)"
