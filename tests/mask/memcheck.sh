#!/usr/bin/env bash
# SPDX-License-Identifier: ISC
# valgrind memcheck over zendrik-mask runs: one that masks ranges from the
# command line and a label file into another format, one that fails on its
# input. No invalid access, no uninitialised value used, no leak.
#   memcheck.sh ZENDRIK_MASK LV2_DIR VALGRIND [VALGRIND_OPTION...]
# valgrind's options come from tests/CMakeLists.txt, as for the other
# memcheck tests; an error must make it exit with status 99.
set -uo pipefail
mask=$1
LV2_PATH=$(cd "$2" && pwd) || exit 1
export LV2_PATH
memcheck=("${@:3}")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

sox -q -n -r 44100 -c 2 -b 16 "$work/in.wav" synth 1 sine 300 vol 0.5
printf '0.2\t0.4\tone\n0.35\t0.5\ttwo\n' >"$work/labels.txt"
status=0
"${memcheck[@]}" "$mask" "$work/in.wav" "$work/out.flac" -m 0.6-0.8 -l "$work/labels.txt" --format flac -b 333 || status=$?
[ "$status" -eq 0 ] || fail "masking run: status $status (99: memcheck errors)"
[ -s "$work/out.flac" ] || fail "masking run wrote no output"
status=0
: >"$work/empty.wav"
"${memcheck[@]}" "$mask" "$work/empty.wav" "$work/out2.wav" -m 0.1-0.2 2>"$work/err" || status=$?
[ "$status" -eq 2 ] || fail "failing run: status $status (99: memcheck errors): $(cat "$work/err")"
echo "memcheck: zendrik-mask runs clean, masking and failing"
