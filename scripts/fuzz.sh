#!/usr/bin/env bash
# Builds the libFuzzer targets of fuzz/ with clang (build/fuzz) and runs each for a bounded time,
# all at once. Each starts from its committed seeds (fuzz/corpus/<target>) and the regression
# fixtures (tests/fixtures/fuzz/<target>); what it adds goes to build/fuzz/corpus/<target>,
# emptied first.
# A crash, a leak, a sanitizer report or a time-out fails the run; the input is kept in
# build/fuzz/findings/<target>/ and the end of the log is printed.
# The seed is fixed, so a run explores the same inputs as every other run of the same length
# from the same seeds (a slower machine a shorter stretch of them); set another one to explore
# further.
#   TILVEX_FUZZ_SECONDS   time per target (default 60)
#   TILVEX_FUZZ_SEED      libFuzzer's random seed (default 1)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${TILVEX_BUILD_DIR:-$root/build}
dir=$build/fuzz
seconds=${TILVEX_FUZZ_SECONDS:-60}
seed=${TILVEX_FUZZ_SEED:-1}
targets=(xml_handler keyed_archive audio_player user_defaults store_metadata)

if [ ! -f "$dir/CMakeCache.txt" ]; then
  CC=clang CXX=clang++ cmake -S "$root" -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DTILVEX_WERROR=ON -DTILVEX_TESTS=OFF -DTILVEX_BENCH=OFF -DTILVEX_FUZZ=ON >/dev/null
fi
cmake --build "$dir" -j "$(nproc)" --target "${targets[@]/#/fuzz_}"

export ASAN_OPTIONS="halt_on_error=1:detect_leaks=1"
export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1"
pids=()
for t in "${targets[@]}"; do
  # Every run starts from the committed seeds alone, as a fresh clone's does.
  rm -rf "$dir/corpus/$t"
  mkdir -p "$dir/corpus/$t" "$dir/findings/$t"
  seeds=("$root/fuzz/corpus/$t")
  [ -d "$root/tests/fixtures/fuzz/$t" ] && seeds+=("$root/tests/fixtures/fuzz/$t")
  (cd "$dir" && exec "./fuzz/fuzz_$t" -max_total_time="$seconds" -seed="$seed" -timeout=20 -rss_limit_mb=2048 \
    -print_final_stats=1 -artifact_prefix="findings/$t/" "corpus/$t" "${seeds[@]}") \
    >"$dir/$t.log" 2>&1 &
  pids+=($!)
done

failed=0
for i in "${!targets[@]}"; do
  t=${targets[$i]}
  if wait "${pids[$i]}"; then
    echo "fuzz_$t: $(grep -m1 '^stat::number_of_executed_units' "$dir/$t.log" | awk '{print $2}') runs, no finding"
  else
    failed=1
    echo "fuzz_$t FAILED; input kept in $dir/findings/$t/, log $dir/$t.log:" >&2
    tail -n 40 "$dir/$t.log" >&2
  fi
done
exit $failed
