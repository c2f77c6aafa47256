#!/usr/bin/env bash
# Checks the formatting, builds everything and runs every test; then the same under sanitizers,
# then the fuzzers. Tests run in a home folder of their own that must stay empty
# (scripts/empty-home.sh).
# Everything is built below one folder: build/ (build/asan, build/tsan, build/fuzz).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${TILVEX_BUILD_DIR:-$root/build}
export TILVEX_BUILD_DIR=$build

step() {
  local name=$1 start=$SECONDS
  shift
  echo "=== $name"
  "$@"
  echo "=== $name: passed in $((SECONDS - start)) s"
}

# Every C++ source of the tree follows .clang-format; `scripts/format.sh` rewrites them in place.
format() {
  "$root/scripts/install-deps.sh"
  git -C "$root" ls-files '*.cpp' '*.h' | (cd "$root" && xargs clang-format --dry-run -Werror)
}

tests() {
  "$root/scripts/build.sh"
  "$root/scripts/empty-home.sh" ctest --test-dir "$build" --output-on-failure -j "$(nproc)" \
    --timeout 600
}

# With the default settings nothing leaves the machine: the demo, traced, connects and sends to
# loopback, Unix and netlink sockets only.
# The run's own output is shown only when it fails.
network() {
  local home status=0
  home=$(mktemp -d)
  (cd "$home" &&
    "$root/scripts/empty-home.sh" env -u TILVEX_ANALYTICS_URL -u TILVEX_ADNET_URL \
      -u TILVEX_REST_URL -u TILVEX_LOGIN_URL \
      "$root/scripts/loopback-only.sh" "$build/app/tilvex" --home "$home" \
      --script "$root/app/Resources/demo.script" >"$home/run.log" 2>&1) || status=$?
  [ "$status" -eq 0 ] || cat "$home/run.log" >&2
  rm -rf "$home"
  return "$status"
}

step "formatting" format
step "build and tests" tests
step "nothing leaves the machine" network
step "AddressSanitizer + UndefinedBehaviorSanitizer, all tests" "$root/scripts/sanitize.sh" address
step "ThreadSanitizer, the tests that use threads" "$root/scripts/sanitize.sh" thread
step "fuzzing, ${TILVEX_FUZZ_SECONDS:-60} s per target" "$root/scripts/fuzz.sh"
echo "=== all passed in $SECONDS s"
