#!/usr/bin/env bash
# SPDX-License-Identifier: ISC
# Measures zendrik-mask's word finder on real recorded speech whose text is
# known (not a test): the Asterisk prompts of asterisk-core-sounds-en and the
# LibriVox readings and card names of pocketsphinx-testdata, half of it held
# out, joined into 48 kHz stereo files with a second of silence between
# utterances (bench/words_eval.py builds it), then the same over music 15 dB
# below the voice. zendrik-mask swept over --sensitivity, and the baselines:
# PocketSphinx decoding everything with its general English language model
# alone (pocketsphinx_continuous, its defaults) and, when a build of it is
# given, the keyword spotting that zendrik-mask used before it decoded
# (commit be2cb66). Prints spoken words found, false alarms an hour, speed
# and peak memory, and writes them with a plot into the word finder's
# section of docs/performance.md. Then the texts that come with a recording:
# the shipped list (--words profanity) over the same speech, in which no one
# swears, clean and with pink noise at -60 dBFS under the whole recording (a
# quiet room's floor in the pauses): every find is a false bleep. Then
# the same speech's text as SubRip cues with loose edges and as plain
# paragraphs, each aligned to the sound, against bleeping whole cues, into
# a section of its own. Words said alone, a second of silence around each
# (Tux Paint's animals to tune on, KTuberling's objects held out, other
# voices), in rows of their own.
#
#   bench/words_eval.sh [BUILD_DIR] [SENSITIVITIES] [SPOTTING_BUILD_DIR]
#   (default: build/release "0 0.25 0.5 0.75 1", no spotting rows)
#   WORDS_EVAL_MODES="words text" (default) runs both; "text" or "words" one.
#   WORDS_EVAL_KEEP=DIR keeps the corpus and every run's report there, to look into.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/../scripts/common.sh"
ensure_packages sox ffmpeg time gnuplot-nox python3 pocketsphinx pocketsphinx-en-us pocketsphinx-testdata \
  asterisk-core-sounds-en asterisk-core-sounds-en-g722 asterisk-moh-opsound-wav tuxpaint-stamps-default ktuberling-data
build="$(cd "${1:-$ZENDRIK_ROOT/build/release}" && pwd)"
read -r -a sensitivities <<<"${2:-0 0.25 0.5 0.75 1}"
exe="$build/bin/zendrik-mask"
[ -x "$exe" ] || { echo "words_eval: no $exe; build first (cmake --build --preset release)" >&2; exit 2; }
spotting_exe="${3:+$3/bin/zendrik-mask}"
[ -z "$spotting_exe" ] || [ -x "$spotting_exe" ] || { echo "words_eval: no $spotting_exe" >&2; exit 2; }
export LV2_PATH="$build/lv2"
helper="$ZENDRIK_ROOT/bench/words_eval.py"
# Seeded dither and noise, so every run measures the same corpus: a fresh
# draw of either moves a borderline find or two.
sox() { command sox -R "$@"; }
model=/usr/share/pocketsphinx/model/en-us

work_folder "${WORDS_EVAL_KEEP:-}" zendrik-words-eval
[ -z "${WORDS_EVAL_KEEP:-}" ] || mkdir -p "$tmp/reports"
python3 "$helper" build "$tmp"
parts=(tune held)

# The bed: the music-on-hold pieces end to end, looped, 15 dB below the
# voice's RMS over its utterances.
sox /usr/share/asterisk/moh/*.wav -r 16000 -c 1 "$tmp/music.wav"
music_db="$(sox "$tmp/music.wav" -n stats 2>&1 | awk '/^RMS lev dB/ {print $4}')"
mkdir "$tmp/clean" "$tmp/music"
for part in "${parts[@]}"; do
  mv "$tmp/$part.wav" "$tmp/clean/$part.wav"
  speech_db="$(python3 -c 'import json, sys; print(json.load(open(sys.argv[1]))["speech_rms_db"])' "$tmp/$part.json")"
  seconds="$(soxi -D "$tmp/clean/$part.wav")"
  sox "$tmp/music.wav" "$tmp/bed.wav" gain "$(awk -v s="$speech_db" -v m="$music_db" 'BEGIN {print s - 15 - m}')" \
    repeat "$(awk -v l="$seconds" -v m="$(soxi -D "$tmp/music.wav")" 'BEGIN {print int(l / m) + 1}')" trim 0 "$seconds"
  sox -m -v 1 "$tmp/clean/$part.wav" -v 1 "$tmp/bed.wav" "$tmp/music/$part.wav"
  # Pink noise at -60 dBFS RMS under everything.
  sox -n -r 16000 -c 1 -b 16 "$tmp/noise.wav" synth "$seconds" pinknoise
  noise_db="$(sox "$tmp/noise.wav" -n stats 2>&1 | awk '/^RMS lev dB/ {print $4}')"
  sox "$tmp/noise.wav" "$tmp/bed.wav" gain "$(awk -v n="$noise_db" 'BEGIN {print -60 - n}')"
  mkdir -p "$tmp/pink"
  sox -m -v 1 "$tmp/clean/$part.wav" -v 1 "$tmp/bed.wav" "$tmp/pink/$part.wav"
  for bed in clean music pink; do sox "$tmp/$bed/$part.wav" -r 48000 -c 2 "$tmp/$bed/$part-48k.wav"; done
done
rm "$tmp/bed.wav" "$tmp/noise.wav"

modes=" ${WORDS_EVAL_MODES:-words text} "
runs="$tmp/runs.tsv"
# row BED METHOD SETTING PART WALL_S PEAK_KIB KIND FOUND: scores one part's finds into runs.tsv.
row() {
  local score
  if [ "$7" = bleeps ]; then
    score="$(python3 "$helper" score-bleeps "$tmp" "$4" "$8")"
  else
    score="$(WORDS_EVAL_RUN="$1 $2 $3" python3 "$helper" score "$tmp" "$4" "$7" "$8")"
  fi
  printf '%s\t%s\t%s\t%s\t%s\t%s\t%s\n' "$1" "$2" "$3" "$(cut -f1-5 <<<"$score")" "$5" "$6" "$(cut -f6- <<<"$score")" >>"$runs"
}
# mask BED METHOD EXE SENSITIVITY [LIST KIND]: one zendrik-mask run over each part.
mask() {
  local part wall peak
  for part in "${parts[@]}"; do
    /usr/bin/time -f '%e %M' -o "$tmp/time" "$3" "$tmp/$1/$part-48k.wav" --dry-run --pad 0 --jobs 2 \
      --words "${5:-$tmp/words.txt}" --sensitivity "$4" --report "$tmp/report.json" -q
    read -r wall peak <"$tmp/time"
    row "$1" "$2" "$4" "$part" "$wall" "$peak" "${6:-mask}" "$tmp/report.json"
    [ -z "${WORDS_EVAL_KEEP:-}" ] || cp "$tmp/report.json" "$tmp/reports/$1-$2-$4-$part.json"
  done
  echo "words_eval: $1, $2 at $4 done" >&2
}
for bed in clean music; do
  [[ "$modes" == *" words "* ]] || break
  for sensitivity in "${sensitivities[@]}"; do
    mask "$bed" finder "$exe" "$sensitivity"
  done
  [ -z "$spotting_exe" ] || mask "$bed" spotting "$spotting_exe" 0.5
  # The baseline has no threads: the two parts decode in two processes at once.
  start="$(date +%s.%N)"
  for part in "${parts[@]}"; do
    /usr/bin/time -f '%e %M' -o "$tmp/time-$part" pocketsphinx_continuous -infile "$tmp/$bed/$part.wav" -time yes \
      -hmm "$model/en-us" -lm "$model/en-us.lm.bin" -dict "$model/cmudict-en-us.dict" \
      >"$tmp/decoded-$part.txt" 2>"$tmp/decoder-log-$part.txt" &
  done
  wait
  wall="$(awk -v s="$start" -v e="$(date +%s.%N)" 'BEGIN {printf "%.2f", e - s}')"
  for part in "${parts[@]}"; do
    read -r _ peak <"$tmp/time-$part"
    row "$bed" decoding "" "$part" "$wall" "$peak" decoder "$tmp/decoded-$part.txt"
  done
  echo "words_eval: $bed, full decoding done" >&2
done

# Words said alone: the finder at each sensitivity, and the language model alone.
for part in alone-tune alone-held; do
  [[ "$modes" == *" words "* ]] || break
  sox "$tmp/$part.wav" -r 48000 -c 2 "$tmp/clean/$part-48k.wav"
  for sensitivity in "${sensitivities[@]}"; do
    /usr/bin/time -f '%e %M' -o "$tmp/time" "$exe" "$tmp/clean/$part-48k.wav" --dry-run --pad 0 --jobs 2 \
      --words "$tmp/alone-words.txt" --sensitivity "$sensitivity" --report "$tmp/report.json" -q
    read -r wall peak <"$tmp/time"
    row alone finder "$sensitivity" "$part" "$wall" "$peak" mask "$tmp/report.json"
  done
  /usr/bin/time -f '%e %M' -o "$tmp/time" pocketsphinx_continuous -infile "$tmp/$part.wav" -time yes \
    -hmm "$model/en-us" -lm "$model/en-us.lm.bin" -dict "$model/cmudict-en-us.dict" >"$tmp/decoded.txt" 2>/dev/null
  read -r wall peak <"$tmp/time"
  row alone decoding "" "$part" "$wall" "$peak" decoder "$tmp/decoded.txt"
  echo "words_eval: $part done" >&2
done

# The shipped list where no one swears, at the default sensitivity.
for bed in clean pink; do
  [[ "$modes" == *" words "* ]] || break
  mask "$bed" profanity "$exe" 0.5 profanity bleeps
done

[[ "$modes" != *" words "* ]] || python3 "$helper" report "$tmp" "$runs" "$ZENDRIK_ROOT/docs"

[[ "$modes" == *" text "* ]] || exit 0
text_runs="$tmp/text-runs.tsv"
# text_row BED MODE PART WALL_S KIND FOUND: scores one part's finds into text-runs.tsv.
text_row() {
  printf '%s\t%s\t%s\t%s\n' "$1" "$2" "$(python3 "$helper" score-text "$tmp" "$3" "$5" "$6")" "$4" >>"$text_runs"
}
for bed in clean music; do
  for part in "${parts[@]}"; do
    text_row "$bed" cues "$part" 0 cues -
    for mode in aligned text; do
      extension=srt
      [ "$mode" = aligned ] || extension=txt
      /usr/bin/time -f '%e' -o "$tmp/time" "$exe" "$tmp/$bed/$part-48k.wav" --dry-run --pad 0 --jobs 2 \
        --words "$tmp/words.txt" --transcript "$tmp/$part.$extension" --report "$tmp/report.json" -q
      text_row "$bed" "$mode" "$part" "$(cat "$tmp/time")" mask "$tmp/report.json"
    done
  done
  echo "words_eval: $bed, subtitles and plain text done" >&2
done
python3 "$helper" report-text "$tmp" "$text_runs" "$ZENDRIK_ROOT/docs"
