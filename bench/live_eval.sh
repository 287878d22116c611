#!/usr/bin/env bash
# SPDX-License-Identifier: ISC
# Measures zendrik live on the labelled speech of bench/words_eval.sh (not a
# test): its tuning and held-out parts at 48 kHz stereo, the words_eval list,
# the default sensitivity. Freewheeling (the plugin waits for its recogniser)
# at delays of 2, 3 and 5 s, against zendrik-mask --dry-run on the same
# files: listed words found and false alarms an hour (bench/live_eval.py).
# Then, at the pace of a sound card, the first PACED_SECONDS of the held-out
# part (prompts, thick with listed words) at each delay: the recogniser's
# lag, the bleeps that come too late and the processor time (bench/live_bench
# paced). Prints the tables for the "Measured" section of docs/live.md.
#
#   bench/live_eval.sh [BUILD_DIR] [PACED_SECONDS]   (default: build/default, 120)
#   LIVE_EVAL_DIR=DIR keeps the files there, and a run again skips the steps
#   whose results are there (the freewheeling runs take long).
#   LIVE_EVAL_JOBS=N freewheeling runs at once (default 2).
#   LIVE_EVAL_MINUTES=M only the first M minutes of each part (default: all).
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/../scripts/common.sh"
ensure_packages sox ffmpeg python3 pocketsphinx-en-us pocketsphinx-testdata asterisk-core-sounds-en \
  asterisk-core-sounds-en-g722
build="$(cd "${1:-$ZENDRIK_ROOT/build/default}" && pwd)"
paced_seconds="${2:-120}"
jobs="${LIVE_EVAL_JOBS:-2}"
for program in bin/zendrik-mask bench/live_bench; do
  [ -x "$build/$program" ] || { echo "live_eval: no $build/$program; build it first" >&2; exit 2; }
done
export LV2_PATH="$build/lv2"
bench="$ZENDRIK_ROOT/bench"

work_folder "${LIVE_EVAL_DIR:-}" zendrik-live-eval
if [ ! -s "$tmp/counts.json" ]; then
  python3 "$bench/words_eval.py" build "$tmp"
  [ -z "${LIVE_EVAL_MINUTES:-}" ] || python3 "$bench/live_eval.py" cut "$tmp" "$LIVE_EVAL_MINUTES"
fi
for part in tune held; do
  [ -s "$tmp/$part-48k.wav" ] || sox "$tmp/$part.wav" -r 48000 -c 2 "$tmp/$part-48k.wav"
  python3 "$bench/live_eval.py" cues "$tmp" "$part"
done

runs="$tmp/runs.tsv"
rm -f "$runs" "$tmp/paced.txt"
# row METHOD DELAY PART KIND FOUND: one part's bleeps scored into runs.tsv.
row() {
  printf '%s\t%s\t%s\n' "$1" "$2" "$(python3 "$bench/live_eval.py" score "$tmp" "$3" "$4" "$5" "$tmp/labels-$3.json")" \
    >>"$runs"
}
# freewheel DELAY PART: written whole, so that a run cut short is done again.
freewheel() {
  local found="$tmp/live-$1-$2.tsv"
  [ -s "$found" ] && return
  "$build/bench/live_bench" finds "$tmp/$2-48k.wav" "$tmp/words.txt" "$1" >"$found.part"
  mv "$found.part" "$found"
  echo "live_eval: freewheeling over $2 at $1 s done" >&2
}
for delay in 2 3 5; do
  for part in tune held; do
    while [ "$(jobs -rp | wc -l)" -ge "$jobs" ]; do wait -n; done
    freewheel "$delay" "$part" &
  done
done
wait
for part in tune held; do
  # The word times every method is scored against: the text placed in the sound.
  [ -s "$tmp/labels-$part.json" ] || "$build/bin/zendrik-mask" "$tmp/$part-48k.wav" --dry-run --pad 0 --jobs 2 \
    --words "$tmp/words.txt" --transcript "$tmp/$part-utterances.srt" --report "$tmp/labels-$part.json" -q
  [ -s "$tmp/mask-$part.json" ] || "$build/bin/zendrik-mask" "$tmp/$part-48k.wav" --dry-run --pad 0 --jobs 2 \
    --words "$tmp/words.txt" --sensitivity 0.5 --report "$tmp/mask-$part.json" -q
  row mask "" "$part" mask "$tmp/mask-$part.json"
  # words_eval's own score of the same finds, to tie the figures to docs/performance.md.
  python3 "$bench/words_eval.py" score "$tmp" "$part" mask "$tmp/mask-$part.json" |
    awk -F'\t' -v OFS='\t' '{print "mask-words", "", $1, $2, $3, $3, $4, "-", $5}' >>"$runs"
  echo "live_eval: zendrik-mask over $part done" >&2
done
for delay in 2 3 5; do
  for part in tune held; do
    row live "$delay" "$part" live "$tmp/live-$delay-$part.tsv"
  done
done

sox "$tmp/held-48k.wav" "$tmp/paced.wav" trim 0 "$paced_seconds"
echo "live_eval: paced, the first $paced_seconds s of the held-out part" >&2
for delay in 2 3 5; do
  "$build/bench/live_bench" paced "$tmp/paced.wav" "$tmp/words.txt" "$delay" | tee -a "$tmp/paced.txt"
done
python3 "$bench/live_eval.py" report "$runs" "$tmp/paced.txt"
