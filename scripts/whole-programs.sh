#!/usr/bin/env bash
# Runs each test program of a build folder once as a whole process, all its tests one after
# another, with the environment and working directory CTest gives its tests. CTest runs every
# test in a process of its own, which hides state that one test leaves for the next; here it
# shows. The programs run side by side; the output of each one that fails is shown.
#   scripts/whole-programs.sh BUILD_DIR
set -euo pipefail
build=$1
logs=$(mktemp -d)
trap 'rm -rf "$logs"' EXIT

# One line per program, as CTest runs its tests: the program, the working directory and the
# environment settings, separated by tabs.
ctest --test-dir "$build" --show-only=json-v1 | python3 -c '
import json, sys
programs = {}
for test in json.load(sys.stdin)["tests"]:
    properties = {p["name"]: p["value"] for p in test.get("properties", [])}
    programs.setdefault(test["command"][0], [properties.get("WORKING_DIRECTORY", "."),
                                             *properties.get("ENVIRONMENT", [])])
for program, rest in programs.items():
    print("\t".join([program, *rest]))
' >"$logs/programs"

run() {
  local program=$1 dir=$2 name
  name=$(basename "$program")
  shift 2
  # An hour bounds a program that hangs; under the sanitizers the longest takes minutes.
  if (cd "$dir" && env "$@" timeout 3600 "$program" --gtest_also_run_disabled_tests) \
    >"$logs/$name.log" 2>&1; then
    echo "$name: passed"
  else
    echo "$name: FAILED" >"$logs/$name.failed"
  fi
}

while IFS=$'\t' read -r -a line; do
  run "${line[@]}" &
done <"$logs/programs"
wait

status=0
for failed in "$logs"/*.failed; do
  [ -e "$failed" ] || continue
  cat "${failed%.failed}.log" "$failed"
  status=1
done
exit "$status"
