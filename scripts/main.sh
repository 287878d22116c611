#!/usr/bin/env bash
# SPDX-License-Identifier: ISC
# The main job: build the plugin and zendrik-mask (no tests: those are
# scripts/test.sh's), install them for this user, and let zendrik-mask find
# and bleep a handful of words in a real recording, offline. Leaves the
# recording, the bleeped file, the labels of what was found, a review page
# and a before-and-after spectrogram in out/demo, and says how to listen.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
ensure_packages "${ZENDRIK_BUILD_PACKAGES[@]}" "${ZENDRIK_HOST_PACKAGES[@]}"
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

# The recording: five LibriVox readings from Jane Austen's "Sense and
# Sensibility", chapter 1 (public domain), as Debian's pocketsphinx-testdata
# ships them, joined into one.
readings=/usr/share/pocketsphinx/test/data/librivox
sox "$readings"/sense_and_sensibility_01_austen_64kb-0{870,880,890,920,930}.wav "$out/reading.wav"

cat >"$out/words.txt" <<'WORDS'
# Words to bleep: one word or phrase a line.
dashwood
selfish
amiable
respectable
cold hearted
WORDS

# Only the standard locations, so this finds what any host here would find.
unset LV2_PATH
"$mask" "$out/reading.wav" "$out/reading-bleeped.wav" --words "$out/words.txt" --preset broadcast \
  --write-labels "$out/found-labels.txt" --report "$out/found.json" --review "$out/review.html"

# Before (top row) and after (bottom row) in one picture: the two files as the
# two channels of one, which sox draws one above the other.
sox -M "$out/reading.wav" "$out/reading-bleeped.wav" "$work/both.wav"
sox "$work/both.wav" -n spectrogram -x 1200 -y 257 -z 90 \
  -t "zendrik-mask: before (top) and after (bottom)" \
  -c "bleeped: the words in words.txt, found by zendrik-mask" \
  -o "$out/spectrogram.png"

cat <<MSG

Built and installed for $(id -un): the bundle in $HOME/.lv2/zendrik.lv2, the
program in $mask.
The recording: five LibriVox readings of Jane Austen's "Sense and Sensibility"
(public domain), from Debian's pocketsphinx-testdata.
Found (start, end in seconds, word):
$(sed 's/^/  /' "$out/found-labels.txt")
Files in $out:
  reading.wav            the recording
  words.txt              the words to bleep
  found-labels.txt       what was bleeped (Audacity labels: open over reading.wav)
  found.json             the same, for scripts
  review.html            every find with its sound, to keep or drop in a browser
  reading-bleeped.wav    the recording with the words bleeped
  spectrogram.png        before (top) and after (bottom)
Listen with: play $out/reading-bleeped.wav   (or aplay, or any audio player)
Review the finds: open $out/review.html in a browser (xdg-open, or drag it
into a browser window); it works offline and exports the kept ranges as labels.
MSG
# The last words must work as they stand: the program by its full path, and
# how to reach it by name when its folder is not on PATH (a fresh root's is not).
echo "Run it: $mask --help"
case ":$PATH:" in
  *":$(dirname "$mask"):"*) ;;
  *)
    echo "$(dirname "$mask") is not on your PATH; to run zendrik-mask by name, add it (and put the line in ~/.profile):"
    echo "  export PATH=\"$(dirname "$mask"):\$PATH\""
    ;;
esac
