#!/usr/bin/env bash
# Runs a command with HOME and XDG_DATA_HOME pointing at an empty folder of its own (and no
# TILVEX_HOME), and fails, naming what appeared, if the command leaves anything in it: no test
# writes into the home of whoever runs it.
#   scripts/empty-home.sh COMMAND [ARGUMENTS...]
set -euo pipefail
home=$(mktemp -d)
trap 'rm -rf "$home"' EXIT
status=0
env -u TILVEX_HOME HOME="$home" XDG_DATA_HOME="$home" "$@" || status=$?
left=$(cd "$home" && find . -mindepth 1 | sort)
if [ -n "$left" ]; then
  echo "=== $* wrote into the home folder it was given (HOME, XDG_DATA_HOME):" >&2
  echo "$left" >&2
  [ "$status" -ne 0 ] || status=1
fi
exit "$status"
