#!/usr/bin/env bash
# SPDX-License-Identifier: ISC
# run makes no system call: the probe runs its blocks under seccomp strict
# mode (any call but read, write and _exit kills it), then under strace with
# markers around the blocks, and nothing may lie between the markers. Each
# check first proves on itself that it would catch a call (the canary).
#   syscall_test.sh PROBE
set -euo pipefail
probe=$1
fail() { echo "FAIL: $*" >&2; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# seccomp: the canary's getpid must be fatal, the plain run must finish.
status=0
"$probe" seccomp canary >"$work/canary.out" 2>&1 || status=$?
[ "$status" -eq 137 ] || fail "seccomp did not stop the canary's system call (status $status)"
"$probe" seccomp >"$work/strict.out" 2>&1 || fail "a system call during run under seccomp strict mode (status $?): $(cat "$work/strict.out")"
blocks=$(sed -n 's/^blocks //p' "$work/strict.out")
[ -n "$blocks" ] || fail "the probe did not report its blocks"
echo "seccomp strict mode: $blocks blocks, no system call"

# strace: count the calls between the markers.
if ! strace -f -qq -o /dev/null true 2>"$work/strace.err"; then
  echo "strace cannot trace here ($(head -1 "$work/strace.err")); seccomp check only"
  exit 0
fi
between() {
  strace -f -qq -o "$work/trace" "$probe" markers "$@" >/dev/null
  # Only the calls of the thread that ran the blocks: the plugin may have
  # threads of its own (strace -f starts each line with the caller's id), and
  # their calls may split the marker's line in two (the end, "resumed").
  awk '/zendrik-run-begin/ {on=1; first=1; tid=$1; next}
       $1 != tid {next}
       first && /<[.][.][.] write resumed>/ {first=0; next}
       {first=0}
       /zendrik-run-end/ {on=0}
       on {print}' "$work/trace"
}
calls=$(between canary)
grep -q getpid <<<"$calls" || fail "strace did not see the canary's getpid between the markers"
calls=$(between)
count=$(grep -c . <<<"$calls" || true)
[ "$count" -eq 0 ] || fail "$count system calls during run: $calls"
echo "strace -f: 0 system calls during $blocks blocks"
