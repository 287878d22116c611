#!/usr/bin/env bash
# SPDX-License-Identifier: ISC
# Measures zendrik live on the labelled speech of bench/words_eval.sh (not a
# test): its tuning and held-out parts at 48 kHz stereo, the words_eval list,
# the default sensitivity. Freewheeling (the plugin waits for its recogniser)
# at delays of 2, 3 and 5 s, against zendrik-mask --dry-run on the same
# files: listed words found and false alarms an hour (bench/live_eval.py).
# Then, at the pace of a sound card, the last PACED_SECONDS of the held-out
# part at each delay: the recogniser's lag, the bleeps that come too late and
# the processor time (bench/live_bench paced). Prints the tables for the
# "Measured" section of docs/live.md.
#
#   bench/live_eval.sh [BUILD_DIR] [PACED_SECONDS]   (default: build/default, 180)
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/../scripts/common.sh"
ensure_packages sox ffmpeg python3 pocketsphinx-en-us pocketsphinx-testdata asterisk-core-sounds-en \
  asterisk-core-sounds-en-g722
build="$(cd "${1:-$ZENDRIK_ROOT/build/default}" && pwd)"
paced_seconds="${2:-180}"
for program in bin/zendrik-mask bench/live_bench; do
  [ -x "$build/$program" ] || { echo "live_eval: no $build/$program; build it first" >&2; exit 2; }
done
export LV2_PATH="$build/lv2"
bench="$ZENDRIK_ROOT/bench"

tmp="$(mktemp -d "${TMPDIR:-/tmp}/zendrik-live-eval.XXXXXX")"
trap 'rm -rf "$tmp"' EXIT
python3 "$bench/words_eval.py" build "$tmp"
for part in tune held; do
  sox "$tmp/$part.wav" -r 48000 -c 2 "$tmp/$part-48k.wav"
done

runs="$tmp/runs.tsv"
# row METHOD DELAY PART KIND FOUND: one part's bleeps scored into runs.tsv.
row() {
  printf '%s\t%s\t%s\n' "$1" "$2" "$(python3 "$bench/live_eval.py" score "$tmp" "$3" "$4" "$5" "$tmp/labels-$3.json")" \
    >>"$runs"
}
for part in tune held; do
  # The word times every method is scored against: the text placed in the sound.
  "$build/bin/zendrik-mask" "$tmp/$part-48k.wav" --dry-run --pad 0 --jobs 2 --words "$tmp/words.txt" \
    --transcript "$tmp/$part.srt" --report "$tmp/labels-$part.json" -q
  "$build/bin/zendrik-mask" "$tmp/$part-48k.wav" --dry-run --pad 0 --jobs 2 --words "$tmp/words.txt" \
    --sensitivity 0.5 --report "$tmp/mask-$part.json" -q
  row mask "" "$part" mask "$tmp/mask-$part.json"
  # words_eval's own score of the same finds, to tie the figures to docs/performance.md.
  python3 "$bench/words_eval.py" score "$tmp" "$part" mask "$tmp/mask-$part.json" |
    awk -F'\t' -v OFS='\t' '{print "mask-words", "", $1, $2, $3, $3, $4, "-", $5}' >>"$runs"
  echo "live_eval: zendrik-mask over $part done" >&2
done
for delay in 2 3 5; do
  for part in tune held; do
    "$build/bench/live_bench" finds "$tmp/$part-48k.wav" "$tmp/words.txt" "$delay" >"$tmp/live-$delay-$part.tsv"
    row live "$delay" "$part" live "$tmp/live-$delay-$part.tsv"
  done
  echo "live_eval: freewheeling at $delay s done" >&2
done

sox "$tmp/held-48k.wav" "$tmp/paced.wav" trim "-$paced_seconds"
for delay in 2 3 5; do
  "$build/bench/live_bench" paced "$tmp/paced.wav" "$tmp/words.txt" "$delay" | tee -a "$tmp/paced.txt"
done
python3 "$bench/live_eval.py" report "$runs" "$tmp/paced.txt"
