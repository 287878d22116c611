#!/usr/bin/env bash
# SPDX-License-Identifier: ISC
# A bounded libFuzzer run from a committed seed corpus. New inputs go to a
# scratch copy, so the committed corpus stays as it is; a crashing input is
# kept in artifacts/ next to the target for reproduction:
#   TARGET artifacts/crash-...
#   fuzz_run.sh TARGET SEED_DIR [SECONDS]
set -euo pipefail
target=$1 seeds=$2 seconds=${3:-60}
name=$(basename "$target")
artifacts="$(dirname "$target")/artifacts"
mkdir -p "$artifacts"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp "$seeds"/* "$work"/
seed_count=$(find "$seeds" -type f | wc -l)

status=0
ASAN_OPTIONS="${ASAN_OPTIONS:-}:detect_leaks=1:allocator_may_return_null=1" \
UBSAN_OPTIONS="${UBSAN_OPTIONS:-}:print_stacktrace=1:halt_on_error=1" \
"$target" -max_total_time="$seconds" -timeout=20 -rss_limit_mb=2048 -max_len=65536 \
  -print_final_stats=1 -artifact_prefix="$artifacts/" "$work" >"$work.log" 2>&1 || status=$?

execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$work.log")
corpus=$(find "$work" -type f | wc -l)
if [ "$status" -ne 0 ] || [ -z "$execs" ]; then
  tail -60 "$work.log"
  rm -f "$work.log"
  echo "FAIL: $name stopped with status $status; reproducer in $artifacts/" >&2
  exit 1
fi
rm -f "$work.log"
echo "$name: $execs executions in ${seconds} s, corpus $seed_count seeds -> $corpus inputs, no crash, no sanitizer report"
