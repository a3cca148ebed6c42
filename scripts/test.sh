#!/usr/bin/env bash
# Sets everything up, builds and runs every test.
#   scripts/test.sh [build-folder] [extra cmake arguments...]
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
build=${1:-build}
shift || true
cmake -S . -B "$build" -G Ninja -DZELV_WERROR=ON "$@" >/dev/null
cmake --build "$build"
export QT_QPA_PLATFORM=offscreen
ctest --test-dir "$build" --output-on-failure -j "$(nproc)" --timeout 300
