#!/usr/bin/env bash
# SPDX-License-Identifier: ISC
# Benchmark for zendrik-mask batch (not a test). (a) 1,000 one-minute files
# (8 kHz mono WAV, small on a shared disk) with two ranges each, through batch
# with one and two files at once, against one file of the same total length
# masked by the single-file command. (b) 2 hours of speech (the LibriVox
# readings of pocketsphinx-testdata) in 120 one-minute files searched for a
# word list: batch with one file at once, two files at once, and one file at
# once with two recogniser threads, against the one long file. The runs take
# turns. Prints files per second, times real time, the 1->2 scaling and the
# per-file overhead; deletes everything it made.
#
#   bench/batch_bench.sh [BUILD_DIR] [SCALE] [SPEECH_SCALE]
#   (default: build/release 1 SCALE; 0.1 makes 100 files and 12 speech files)
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="$(cd "${1:-$root/build/release}" && pwd)"
scale="${2:-1}"
speech_scale="${3:-$scale}"
exe="$build/bin/zendrik-mask"
[ -x "$exe" ] || { echo "batch_bench: no $exe; build first (cmake --build --preset release)" >&2; exit 2; }
command -v sox >/dev/null || { echo "batch_bench: needs sox" >&2; exit 2; }
export LV2_PATH="$build/lv2"

tmp="$(mktemp -d "${TMPDIR:-/tmp}/zendrik-batch-bench.XXXXXX")"
trap 'rm -rf "$tmp"' EXIT
count() { awk -v n="$1" -v s="$2" 'BEGIN { c = int(n * s + 0.5); print (c < 2 ? 2 : c) }'; }

# seconds NAME COMMAND...: the wall time, appended to $tmp/NAME.
seconds() {
  local name=$1 start end
  shift
  start="$(date +%s.%N)"
  "$@" -q || [ $? -eq 1 ]
  end="$(date +%s.%N)"
  awk -v a="$start" -v b="$end" 'BEGIN { printf "%.3f\n", b - a }' >>"$tmp/$name"
}

# report TITLE FILES SECONDS_EACH: the figures of the runs named b1, b2, l1
# (and r2 when there).
report() {
  awk -v title="$1" -v files="$2" -v each="$3" -v b1="$(cat "$tmp/b1")" -v b2="$(cat "$tmp/b2")" \
    -v l1="$(cat "$tmp/l1")" -v r2="$(cat "$tmp/r2" 2>/dev/null || echo 0)" 'BEGIN {
    audio = files * each
    printf "%s: %d files, %.2f h of audio\n", title, files, audio / 3600
    printf "  batch --jobs 1:  %8.1f s  %7.2f files/s  %8.1f x real time\n", b1, files / b1, audio / b1
    printf "  batch --jobs 2:  %8.1f s  %7.2f files/s  %8.1f x real time  (%.2f x --jobs 1)\n", b2, files / b2, audio / b2, b1 / b2
    if (r2 > 0)
      printf "  batch --jobs 1 --recogniser-jobs 2: %.1f s  %.1f x real time  (%.2f x --jobs 1)\n", r2, audio / r2, b1 / r2
    printf "  one long file:   %8.1f s  %8.1f x real time; per-file overhead of batch --jobs 1: %+.1f %%\n", l1, audio / l1, 100 * (b1 - l1) / l1
  }'
  rm -f "$tmp/b1" "$tmp/b2" "$tmp/l1" "$tmp/r2"
}

# (a) ranges only.
files="$(count 1000 "$scale")"
mkdir -p "$tmp/a"
sox -n -r 8000 -c 1 -b 16 "$tmp/minute.wav" synth 60 whitenoise vol 0.5
for ((i = 0; i < files; i++)); do cp "$tmp/minute.wav" "$tmp/a/call$i.wav"; done
sox -n -r 8000 -c 1 -b 16 "$tmp/long.wav" synth "$((files * 60))" whitenoise vol 0.5
ranges=(--mask 10-11 --mask 30-32.5)
seconds b1 "$exe" batch "$tmp/a" "$tmp/out1" --jobs 1 "${ranges[@]}"
seconds b2 "$exe" batch "$tmp/a" "$tmp/out2" --jobs 2 "${ranges[@]}"
seconds l1 "$exe" "$tmp/long.wav" "$tmp/long-out.wav" "${ranges[@]}"
report "ranges" "$files" 60
rm -rf "$tmp/a" "$tmp/out1" "$tmp/out2" "$tmp/long.wav" "$tmp/long-out.wav"

# (b) a word list, on speech.
files="$(count 120 "$speech_scale")"
readings=/usr/share/pocketsphinx/test/data/librivox/sense_and_sensibility_01_austen_64kb-0
sox "$readings"{870,880,890,920,930}.wav "$readings"{870,880,890,920,930}.wav \
  "$readings"{870,880,890,920,930}.wav "$tmp/minute.wav" trim 0 60
mkdir -p "$tmp/b"
minutes=()
for ((i = 0; i < files; i++)); do
  cp "$tmp/minute.wav" "$tmp/b/call$i.wav"
  minutes+=("$tmp/minute.wav")
done
sox "${minutes[@]}" "$tmp/long.wav"
printf '%s\n' dashwood selfish amiable respectable "cold hearted" leisure >"$tmp/words.txt"
words=(--words "$tmp/words.txt")
seconds b1 "$exe" batch "$tmp/b" "$tmp/out1" --jobs 1 "${words[@]}"
seconds b2 "$exe" batch "$tmp/b" "$tmp/out2" --jobs 2 "${words[@]}"
seconds r2 "$exe" batch "$tmp/b" "$tmp/out3" --jobs 1 --recogniser-jobs 2 "${words[@]}"
seconds l1 "$exe" "$tmp/long.wav" "$tmp/long-out.wav" --jobs 1 "${words[@]}"
report "words" "$files" 60
