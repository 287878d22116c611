#!/usr/bin/env bash
# SPDX-License-Identifier: ISC
# The main job: build everything, install the bundle and zendrik-mask for this
# user, and bleep two passages (a name and a phone number) out of a short
# speech recording. Leaves the masked WAV and a before-and-after spectrogram
# in out/demo and says how to listen.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
ensure_packages "${ZENDRIK_BUILD_PACKAGES[@]}" "${ZENDRIK_HOST_PACKAGES[@]}"
ensure_packages "${ZENDRIK_OPTIONAL_PACKAGES[@]}" || echo "zendrik: going on with the shipped recording" >&2
cd "$ZENDRIK_ROOT"

cmake --preset release -DZENDRIK_INSTALL_USER=ON >/dev/null
cmake --build --preset release
cmake --install build/release >/dev/null
mask="$HOME/.local/bin/zendrik-mask"

out="$ZENDRIK_ROOT/out/demo"
rm -rf "$out"
mkdir -p "$out"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

# The recording, spoken in four pieces so the masked passages are known to the
# sample: pieces 2 (the name) and 4 (the number, less its trailing silence)
# become the labels.
if command -v espeak-ng >/dev/null; then
  source_note="synthesised just now with espeak-ng"
  pieces=("Hello, my name is" "Jonathan Smith" "and my phone number is" "five five five, one two three four.")
  files=()
  for i in "${!pieces[@]}"; do
    espeak-ng -v en-us -s 150 -w "$work/piece$i.wav" "${pieces[$i]}"
    files+=("$work/piece$i.wav")
  done
  sox "${files[@]}" -r 48000 "$out/speech.wav"
  read -r d0 d1 d2 d3 < <(for f in "${files[@]}"; do soxi -D "$f"; done | tr '\n' ' '; echo)
  awk -v a="$d0" -v b="$d1" -v c="$d2" -v d="$d3" 'BEGIN {
    printf "%.6f\t%.6f\tname\n", a, a + b
    printf "%.6f\t%.6f\tphone number\n", a + b + c, a + b + c + d - 0.1 }' >"$out/speech-labels.txt"
else
  source_note="the sample shipped in tools/mask/samples (espeak-ng is not installed)"
  sox tools/mask/samples/speech.flac -r 48000 "$out/speech.wav"
  cp tools/mask/samples/speech-labels.txt "$out/speech-labels.txt"
fi

# Only the standard locations, so this finds what any host here would find.
unset LV2_PATH
"$mask" "$out/speech.wav" "$out/speech-masked.wav" --labels "$out/speech-labels.txt" --preset broadcast

# Before (top row) and after (bottom row) in one picture: the two files as the
# two channels of one, which sox draws one above the other.
sox -M "$out/speech.wav" "$out/speech-masked.wav" "$work/both.wav"
sox "$work/both.wav" -n rate 16k spectrogram -x 1200 -y 257 -z 90 \
  -t "zendrik-mask: before (top) and after (bottom)" \
  -c "masked: the ranges in speech-labels.txt" \
  -o "$out/spectrogram.png"

cat <<MSG

Built and installed for $(id -un): the bundle in $HOME/.lv2/zendrik.lv2, the
program in $mask.
The recording is $source_note.
Files in $out:
  speech.wav             the recording
  speech-labels.txt      the two passages masked (Audacity labels)
  speech-masked.wav      the recording with the name and the number bleeped
  spectrogram.png        before (top) and after (bottom)
Listen with: play $out/speech-masked.wav   (or aplay, or any audio player)
MSG
