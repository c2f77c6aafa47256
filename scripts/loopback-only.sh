#!/usr/bin/env bash
# Runs a command under strace and fails when the command, or any thread or process it starts,
# connects or sends to an internet address other than loopback (127.0.0.0/8, ::1). Unix and
# netlink sockets stay on the machine and pass.
#
#   scripts/loopback-only.sh COMMAND [ARGUMENT ...]
set -euo pipefail
trace=$(mktemp)
trap 'rm -f "$trace"' EXIT
strace -f -qq --seccomp-bpf -e trace=connect,sendto,sendmsg,sendmmsg -o "$trace" "$@"
outside=$(grep -E 'sa_family=AF_INET6?,' "$trace" |
  grep -vE 'inet_addr\("127\.|inet_pton\(AF_INET6, "(::1|::ffff:127\.[0-9.]+)"' || true)
if [ -n "$outside" ]; then
  echo "$1 reached beyond the machine:" >&2
  echo "$outside" >&2
  exit 1
fi
