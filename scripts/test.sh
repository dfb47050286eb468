#!/usr/bin/env bash
# Builds the tool and runs every test headless.
set -euo pipefail
cd "$(dirname "$0")/.."
"$(dirname "$0")/build.sh" "$@"
export QT_QPA_PLATFORM=offscreen
# Test runs wait on sensors more than they compute: twice as many as there are cores.
ctest --test-dir "${BUILD_DIR:-build}" --output-on-failure -j"$((2 * $(nproc)))"
