#!/usr/bin/env bash
# SPDX-License-Identifier: ISC
# Benchmark for zendrik-mask's word search (not a test): an hour of real
# speech (the five LibriVox readings of pocketsphinx-testdata, repeated, as
# one 16 kHz mono WAV) searched for six words. In one run, rounds taking
# turns: the recogniser alone (--dry-run) with one job and with two, and the
# whole command (find and bleep, writing the output) with two. Prints the
# medians: wall time, real-time factor (audio seconds per wall second),
# the two-job speed-up and peak memory. Then peak memory on ten minutes of the
# same, to show that it does not grow with the length. Also checks that one
# and two jobs find the very same words.
#
#   bench/words_bench.sh [BUILD_DIR] [ROUNDS]     (default: build/release 3)
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="$(cd "${1:-$root/build/release}" && pwd)"
rounds="${2:-3}"
exe="$build/bin/zendrik-mask"
[ -x "$exe" ] || { echo "words_bench: no $exe; build first (cmake --build --preset release)" >&2; exit 2; }
command -v sox >/dev/null || { echo "words_bench: needs sox" >&2; exit 2; }
[ -x /usr/bin/time ] || { echo "words_bench: needs /usr/bin/time (Debian package 'time')" >&2; exit 2; }
export LV2_PATH="$build/lv2"

tmp="$(mktemp -d "${TMPDIR:-/tmp}/zendrik-words-bench.XXXXXX")"
trap 'rm -rf "$tmp"' EXIT
readings=/usr/share/pocketsphinx/test/data/librivox
sox "$readings"/sense_and_sensibility_01_austen_64kb-0{870,880,890,920,930}.wav "$tmp/readings.wav"
copies=() # 24.73 s each: 146 of them make an hour
for ((i = 0; i < 146; i++)); do copies+=("$tmp/readings.wav"); done
sox "${copies[@]}" "$tmp/hour.wav"
sox "${copies[@]:0:25}" "$tmp/ten-minutes.wav"
hour_seconds="$(soxi -D "$tmp/hour.wav")"
words=(--word dashwood --word selfish --word amiable --word respectable --word "cold hearted" --word leisure)

# timed NAME COMMAND...: appends "wall_s peak_kib" to $tmp/NAME.
timed() {
  local name=$1
  shift
  /usr/bin/time -f '%e %M' -o "$tmp/time" "$@" -q
  cat "$tmp/time" >>"$tmp/$name"
}

for ((r = 0; r < rounds; r++)); do
  timed jobs1 "$exe" "$tmp/hour.wav" --dry-run --jobs 1 "${words[@]}" --write-labels "$tmp/labels1.txt"
  timed jobs2 "$exe" "$tmp/hour.wav" --dry-run --jobs 2 "${words[@]}" --write-labels "$tmp/labels2.txt"
  timed whole "$exe" "$tmp/hour.wav" "$tmp/out.wav" --jobs 2 "${words[@]}"
  rm -f "$tmp/out.wav"
done
timed short "$exe" "$tmp/ten-minutes.wav" --dry-run --jobs 2 "${words[@]}"
cmp -s "$tmp/labels1.txt" "$tmp/labels2.txt" || { echo "words_bench: one and two jobs found different words" >&2; exit 1; }

median() { sort -n -k"$2" "$tmp/$1" | awk -v k="$2" '{v[NR] = $k} END {print v[int((NR + 1) / 2)]}'; }
j1="$(median jobs1 1)"
j2="$(median jobs2 1)"
whole="$(median whole 1)"
awk -v h="$hour_seconds" -v j1="$j1" -v j2="$j2" -v w="$whole" -v found="$(wc -l <"$tmp/labels1.txt")" \
  -v m1="$(median jobs1 2)" -v m2="$(median jobs2 2)" -v mw="$(median whole 2)" -v ms="$(median short 2)" \
  -v rounds="$rounds" 'BEGIN {
  printf "words_bench: %.0f s of speech, %d words found, medians of %d rounds\n", h, found, rounds
  printf "  recogniser, 1 job:   %7.1f s  %6.1f x real time  peak %4.0f MB\n", j1, h / j1, m1 / 1024
  printf "  recogniser, 2 jobs:  %7.1f s  %6.1f x real time  peak %4.0f MB  (%.2f x one job)\n", j2, h / j2, m2 / 1024, j1 / j2
  printf "  whole command, 2 jobs (find and bleep): %.1f s, %.1f x real time, peak %.0f MB\n", w, h / w, mw / 1024
  printf "  ten minutes, 2 jobs: peak %.0f MB\n", ms / 1024
}'
