#!/usr/bin/env bash
# SPDX-License-Identifier: ISC
# Measures zendrik-mask --adaptation (not a test): an MLLR transform of the
# acoustic model estimated from a first decoding of the file itself, with no
# one's transcript (PocketSphinx with the finder's settings and its general
# language model; sphinxtrain's bw and mllr_solve), then the finder at the
# default with it, against the finder without. Also the tuning part's
# transform reused on the held-out part: the same voice and room, estimated
# once. Runs on the speech and music bed that bench/words_eval.sh builds.
#
#   bench/adaptation_eval.sh CORPUS_DIR [BUILD_DIR]
#   CORPUS_DIR: a folder bench/words_eval.sh kept (WORDS_EVAL_KEEP=DIR).
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/../scripts/common.sh"
ensure_packages sox time python3 pocketsphinx pocketsphinx-en-us sphinxbase-utils sphinxtrain
corpus="$(cd "$1" && pwd)"
build="$(cd "${2:-$ZENDRIK_ROOT/build/release}" && pwd)"
exe="$build/bin/zendrik-mask"
[ -x "$exe" ] || { echo "adaptation_eval: no $exe; build first" >&2; exit 2; }
[ -f "$corpus/words.txt" ] || { echo "adaptation_eval: no words_eval corpus in $corpus" >&2; exit 2; }
export LV2_PATH="$build/lv2"
helper="$ZENDRIK_ROOT/bench/adaptation.py"
en_us=/usr/share/pocketsphinx/model/en-us
trainer=/usr/lib/sphinxtrain
work_folder "${ADAPTATION_EVAL_KEEP:-}" zendrik-adaptation-eval

# bw reads the model's mixture weights as floats and its definition as text.
model="$tmp/model"
mkdir -p "$model"
cp "$en_us/en-us/"{feat.params,means,variances,transition_matrices,noisedict} "$model/"
python3 "$helper" weights "$en_us/en-us/sendump" "$model/mixture_weights"
pocketsphinx_mdef_convert -text "$en_us/en-us/mdef" "$model/mdef.txt" 2>/dev/null

# adapt BED PART: DIR/mllr from a first decoding of BED/PART; prints its seconds.
adapt() {
  local dir="$tmp/$1-$2" start
  start="$(date +%s.%N)"
  mkdir -p "$dir/acc"
  pocketsphinx_continuous -infile "$corpus/$1/$2.wav" -time yes -hmm "$en_us/en-us" -lm "$en_us/en-us.lm.bin" \
    -dict "$en_us/cmudict-en-us.dict" -fwdflat no -bestpath yes -maxhmmpf 5000 -maxwpf 10 -ds 2 -topn 2 \
    >"$dir/decoded.txt" 2>/dev/null
  python3 "$helper" utterances "$dir/decoded.txt" "$corpus/$1/$2.wav" "$dir" 2>/dev/null
  sphinx_fe -argfile "$model/feat.params" -samprate 16000 -c "$dir/fileids" -di "$dir" -do "$dir" -ei wav -eo mfc \
    -mswav yes >/dev/null 2>&1
  "$trainer/bw" -hmmdir "$model" -moddeffn "$model/mdef.txt" -ts2cbfn .ptm. -feat 1s_c_d_dd \
    -svspec 0-12/13-25/26-38 -cmn batch -agc none -dictfn "$en_us/cmudict-en-us.dict" -fdictfn "$model/noisedict" \
    -ctlfn "$dir/fileids" -lsnfn "$dir/transcription" -cepdir "$dir" -accumdir "$dir/acc" >"$dir/bw.log" 2>&1
  "$trainer/mllr_solve" -meanfn "$model/means" -varfn "$model/variances" -outmllrfn "$dir/mllr" \
    -accumdir "$dir/acc" >"$dir/mllr_solve.log" 2>&1
  awk -v s="$start" -v e="$(date +%s.%N)" 'BEGIN {printf "%.0f", e - s}'
}
# finder BED PART [ADAPTATION]: found/total, false alarms an hour, seconds.
finder() {
  local report="$tmp/report.json" start
  start="$(date +%s.%N)"
  "$exe" "$corpus/$1/$2-48k.wav" --dry-run --pad 0 --jobs 2 --words "$corpus/words.txt" --report "$report" -q \
    ${3:+--adaptation "$3"}
  local seconds
  seconds="$(awk -v s="$start" -v e="$(date +%s.%N)" 'BEGIN {printf "%.0f", e - s}')"
  WORDS_EVAL_RUN=adaptation python3 "$ZENDRIK_ROOT/bench/words_eval.py" score "$corpus" "$2" mask "$report" |
    awk -F '\t' -v t="$seconds" '{printf "%d / %d (%.0f %%), %.0f an hour, %s s", $2, $3, 100 * $2 / $3, $4 * 3600 / $5, t}'
}

printf '| bed | part | shipped | adapted on itself | tuning part'"'"'s transform | estimating it |\n|---|---|---|---|---|---|\n'
for bed in clean music; do
  for part in tune held; do
    cost="$(adapt "$bed" "$part")"
    reused=""
    [ "$part" = tune ] || reused="$(finder "$bed" "$part" "$tmp/$bed-tune/mllr")"
    printf '| %s | %s | %s | %s | %s | %s s |\n' "$bed" "$part" "$(finder "$bed" "$part")" \
      "$(finder "$bed" "$part" "$tmp/$bed-$part/mllr")" "${reused:-}" "$cost"
  done
done
