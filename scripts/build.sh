#!/usr/bin/env bash
# Configures (once) and builds the project incrementally in build/.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${TILVEX_BUILD_DIR:-$root/build}
"$root/scripts/install-deps.sh"
if [ ! -f "$build/CMakeCache.txt" ]; then
  cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTILVEX_WERROR=ON
fi
cmake --build "$build" -j "$(nproc)"
