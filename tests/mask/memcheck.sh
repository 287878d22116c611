#!/usr/bin/env bash
# SPDX-License-Identifier: ISC
# valgrind memcheck over zendrik-mask runs. No invalid access, no
# uninitialised value used, no leak.
#   memcheck.sh audio ZENDRIK_MASK_AUDIO_ONLY LV2_DIR VALGRIND [VALGRIND_OPTION...]
#     the program built without FFmpeg: ranges from the command line and a
#     label file into another format, the word finder on real speech, and a
#     run that fails on its input
#   memcheck.sh media ZENDRIK_MASK LV2_DIR VALGRIND [VALGRIND_OPTION...]
#     the program people install, masking a video's sound; skipped (77) where
#     valgrind cannot start FFmpeg's libraries on this CPU
# valgrind's options come from tests/support/memcheck.cmake, as for the
# other memcheck tests; an error must make it exit with status 99.
set -uo pipefail
mode=$1
mask=$2
LV2_PATH=$(cd "$3" && pwd) || exit 1
export LV2_PATH
memcheck=("${@:4}")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }
speech=/usr/share/pocketsphinx/test/data/librivox/sense_and_sensibility_01_austen_64kb-0870.wav

# run WHAT EXPECTED_STATUS ARG...: the program under valgrind.
run() {
  local what=$1 expected=$2 status=0
  shift 2
  "${memcheck[@]}" "$mask" "$@" 2>"$work/err" || status=$?
  [ "$status" -eq "$expected" ] || fail "$what: status $status (99: memcheck errors): $(tail -n 20 "$work/err")"
}

if [ "$mode" = media ]; then
  status=0
  "${memcheck[@]}" "$mask" --version >/dev/null 2>"$work/err" || status=$?
  if [ "$status" -eq 132 ] || grep -q -E 'unhandled instruction|Illegal opcode' "$work/err"; then
    echo "skipped: valgrind cannot start FFmpeg's libraries on this CPU ($(grep -m1 -o -E 'Illegal opcode.*|unhandled instruction.*' "$work/err")); memcheck.zendrik_mask checks the rest of the program"
    exit 77
  fi
  ffmpeg -v error -f lavfi -i testsrc=size=64x48:rate=10:duration=1 -f lavfi -i sine=duration=1 -c:v mpeg4 \
    -c:a aac -shortest "$work/in.mp4" || fail "ffmpeg could not make the test video"
  run "masking a video's sound" 0 "$work/in.mp4" "$work/out.mp4" -m 0.2-0.4
  [ -s "$work/out.mp4" ] || fail "masking a video wrote no output"
  echo "memcheck: zendrik-mask masks a video's sound clean"
  exit 0
fi

# What this build is for: nothing of FFmpeg's loaded.
if ldd "$mask" | grep -E 'libav|libhwy'; then
  fail "$mask loads FFmpeg's libraries"
fi
sox -q -n -r 44100 -c 2 -b 16 "$work/in.wav" synth 1 sine 300 vol 0.5
printf '0.2\t0.4\tone\n0.35\t0.5\ttwo\n' >"$work/labels.txt"
run "masking run" 0 "$work/in.wav" "$work/out.flac" -m 0.6-0.8 -l "$work/labels.txt" --format flac -b 333
[ -s "$work/out.flac" ] || fail "masking run wrote no output"
printf 'dashwood\n' >"$work/words.txt"
run "word finder run" 0 "$speech" "$work/words.flac" --words "$work/words.txt" --jobs 2 \
  --write-labels "$work/found.txt"
grep -q dashwood "$work/found.txt" || fail "the word finder found nothing under valgrind: $(cat "$work/err")"
: >"$work/empty.wav"
run "failing run" 2 "$work/empty.wav" "$work/out2.wav" -m 0.1-0.2
echo "memcheck: zendrik-mask runs clean, masking, finding words and failing"
