#!/usr/bin/env bash
# Builds the project with sanitizers in its own folder under the main build folder and runs tests
# there; any sanitizer report fails the run.
#   scripts/sanitize.sh address   AddressSanitizer + UndefinedBehaviorSanitizer, every test, then
#                                 each test program once as one process (build/asan)
#   scripts/sanitize.sh thread    ThreadSanitizer, the tests that use threads (build/tsan)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${TILVEX_BUILD_DIR:-$root/build}
supp=$root/scripts/sanitizers
jobs=$(nproc)

case "${1:-}" in
  address) dir=$build/asan; sanitize=address,undefined ;;
  thread) dir=$build/tsan; sanitize=thread ;;
  *) echo "usage: $0 address|thread" >&2; exit 2 ;;
esac

# Warnings are the main build's business (it treats them as errors); sanitizer instrumentation
# only adds false ones.
if [ ! -f "$dir/CMakeCache.txt" ]; then
  cmake -S "$root" -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTILVEX_WERROR=OFF \
    -DTILVEX_BENCH=OFF -DTILVEX_SANITIZE="$sanitize" >/dev/null
fi

# halt_on_error with the build's -fno-sanitize-recover=all: the first report ends the test, which
# then fails. Suppression files name third-party code only.
export ASAN_OPTIONS="halt_on_error=1:detect_leaks=1:strict_init_order=1"
export LSAN_OPTIONS="suppressions=$supp/lsan.supp:print_suppressions=0"
export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1:suppressions=$supp/ubsan.supp"
export TSAN_OPTIONS="halt_on_error=1:exitcode=66:second_deadlock_stack=1:suppressions=$supp/tsan.supp"

if [ "$1" = address ]; then
  cmake --build "$dir" -j "$jobs"
  "$root/scripts/empty-home.sh" ctest --test-dir "$dir" --output-on-failure -j "$jobs" \
    --timeout 900
  # Where each test sees what the ones before it in the same process left.
  "$root/scripts/empty-home.sh" "$root/scripts/whole-programs.sh" "$dir"
else
  # Frame capture, the ad-network report, the encoding on the pasteboard road's own thread and
  # the device threads that stall mid-recording (test_app), connections and the run loop's
  # cross-thread posting (test_Foundation), uploads and REST calls (test_analytics), camera,
  # microphone and recorder (test_Device, test_AVFoundation).
  cmake --build "$dir" -j "$jobs" --target tilvex test_app test_Foundation test_analytics \
    test_Device test_AVFoundation
  "$root/scripts/empty-home.sh" ctest --test-dir "$dir" --output-on-failure -j "$jobs" \
    --timeout 900 -L '^test_(Foundation|analytics|Device|AVFoundation)$'
  "$root/scripts/empty-home.sh" ctest --test-dir "$dir" --output-on-failure -j "$jobs" \
    --timeout 900 -L '^test_app$' \
    -R '^(TilvexViewControllerTest|RecordingTest|AdNetReportTest|Copies/VideoPlayerPasteboardTest|Stalls/StalledDeviceTest)\.'
fi
