#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test suite; then the threaded suites again
# under ThreadSanitizer.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
scripts/build.sh
ctest --test-dir build --output-on-failure -j2 --timeout 300
scripts/test-tsan.sh
