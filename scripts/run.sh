#!/usr/bin/env bash
# The main job: builds, then runs a whole upload of the embedded firmware image.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
scripts/build.sh
exec build/bin/upload-demo "$@"
