#!/usr/bin/env bash
# Builds everything and runs every test.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${TILVEX_BUILD_DIR:-$root/build}
"$root/scripts/build.sh"
ctest --test-dir "$build" --output-on-failure -j "$(nproc)" --timeout 600
