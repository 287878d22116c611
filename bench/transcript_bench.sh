#!/usr/bin/env bash
# SPDX-License-Identifier: ISC
# Benchmark for zendrik-mask's transcripts (not a test): peak memory and
# time of --dry-run on a large Whisper JSON (Python makes about 300 MB, some
# 3.3 million words) and a large SubRip file (two million cues), both read
# as they stream by, and the time of a 100,000-line word list (words,
# wildcards, phrases) matched against a transcript of 20,000 words.
#
#   bench/transcript_bench.sh [BUILD_DIR] [WORDS] [CUES]
#       (default: build/release 3300000 2000000)
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="$(cd "${1:-$root/build/release}" && pwd)"
words="${2:-3300000}"
cues="${3:-2000000}"
exe="$build/bin/zendrik-mask"
[ -x "$exe" ] || { echo "transcript_bench: no $exe; build first (cmake --build --preset release)" >&2; exit 2; }
command -v python3 >/dev/null || { echo "transcript_bench: needs python3" >&2; exit 2; }
[ -x /usr/bin/time ] || { echo "transcript_bench: needs /usr/bin/time (Debian package 'time')" >&2; exit 2; }
export LV2_PATH="$build/lv2"

tmp="$(mktemp -d "${TMPDIR:-/tmp}/zendrik-transcript-bench.XXXXXX")"
trap 'rm -rf "$tmp"' EXIT

# A minute of silence, and transcripts whose words all fall within it.
python3 - "$tmp" "$words" "$cues" <<'PY'
import json, sys, wave
tmp, words, cues = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
with wave.open(f"{tmp}/in.wav", "wb") as w:
    w.setnchannels(1); w.setsampwidth(2); w.setframerate(8000)
    w.writeframes(bytes(2 * 8000 * 60))
vocabulary = ["the", "cottage", "was", "Dashwood", "said", "Marianne", "and", "Elinor", "never", "sense"]
def word(i):
    return "damn" if i % 1000 == 999 else vocabulary[i % len(vocabulary)]
def whisper(path, count):
    step = 59.0 / count
    with open(path, "w") as f:
        # As openai-whisper writes it: the whole text first.
        f.write('{"text": ' + json.dumps(" ".join(word(i) for i in range(count))) + ', "segments": [')
        for s in range(0, count, 20):
            words = [{"word": " " + word(i), "start": round(i * step, 6), "end": round((i + 1) * step, 6),
                      "probability": 0.9} for i in range(s, min(s + 20, count))]
            f.write(("" if s == 0 else ",\n") + json.dumps({"id": s // 20, "start": words[0]["start"],
                    "end": words[-1]["end"], "text": "".join(w["word"] for w in words), "words": words}))
        f.write('], "language": "en"}\n')
whisper(f"{tmp}/big.json", words)
whisper(f"{tmp}/small.json", 20000)
with open(f"{tmp}/big.srt", "w") as f:
    for c in range(cues):
        ms = c * 59000 // cues
        t = f"00:00:{ms // 1000:02d},{ms % 1000:03d}"
        f.write(f"{c + 1}\n{t} --> {t}\n{word(3 * c)} {word(3 * c + 1)} {word(3 * c + 2)}\n\n")
with open(f"{tmp}/list.txt", "w") as f:
    for n in range(99999):
        f.write(["zendrik%d" % n, "quux%d*" % n, "john dashwood%d" % n][n % 3] + "\n")
    f.write("damn\n")
PY

# run NAME ARGS...: prints the wall time and peak memory of one --dry-run.
run() {
  local name=$1
  shift
  /usr/bin/time -f '%e %M' -o "$tmp/time" "$exe" "$tmp/in.wav" --dry-run -q "$@" >/dev/null
  read -r wall peak <"$tmp/time"
  awk -v n="$name" -v w="$wall" -v p="$peak" 'BEGIN { printf "  %-40s %7.1f s  peak %6.0f MB\n", n, w, p / 1024 }'
}
echo "transcript_bench: $words words of Whisper JSON, $cues cues of SubRip"
run "Whisper JSON, $(du -m "$tmp/big.json" | cut -f1) MB" --transcript "$tmp/big.json" --word damn --word "son of*"
run "SubRip, $(du -m "$tmp/big.srt" | cut -f1) MB" --transcript "$tmp/big.srt" --word damn --word "son of*"
run "100,000-line list, 20,000 words" --transcript "$tmp/small.json" --words "$tmp/list.txt"
