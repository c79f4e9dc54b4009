#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test suite; then the threaded suites again
# under ThreadSanitizer; then builds and checks the Debian packages.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
scripts/build.sh
ctest --test-dir build --output-on-failure -j2 --timeout 300
scripts/test-tsan.sh
# The Debian packages, the installed programs and the component installed for other programs.
scripts/check-package.sh
