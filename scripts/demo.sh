#!/usr/bin/env bash
# Builds everything and runs the demo.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${TILVEX_BUILD_DIR:-$root/build}
"$root/scripts/build.sh"
"$build/app/tilvex" --version
