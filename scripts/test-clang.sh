#!/usr/bin/env bash
# Builds everything with Clang into build-clang/, warnings as errors as with GCC, and runs the
# whole suite there: code that only one compiler accepts fails here.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/build-tree.sh build-clang -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++
ctest --test-dir build-clang --output-on-failure -j2 --timeout 300
