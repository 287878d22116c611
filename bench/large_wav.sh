#!/usr/bin/env bash
# SPDX-License-Identifier: ISC
# Check for zendrik-mask on a WAV output past 4 GiB (not a test: it needs
# about 12 GB of disk and minutes of I/O). A three-hour 48 kHz stereo 24-bit
# WAV (3.1 GB) is masked into doubles (8.29 GB), which a WAV's 32-bit sizes
# cannot state: the output must come out as RF64 with every frame, and the
# run must say so. sndfile-info reads the result; the files live in a
# temporary folder deleted afterwards.
#
#   bench/large_wav.sh [BUILD_DIR]     (default: build/release)
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="$(cd "${1:-$root/build/release}" && pwd)"
exe="$build/bin/zendrik-mask"
[ -x "$exe" ] || { echo "large_wav: no $exe; build first" >&2; exit 2; }
for tool in sox sndfile-info; do
  command -v "$tool" >/dev/null || { echo "large_wav: needs $tool" >&2; exit 2; }
done
export LV2_PATH="$build/lv2"

tmp="$(mktemp -d "${TMPDIR:-/tmp}/zendrik-mask-large.XXXXXX")"
trap 'rm -rf "$tmp"' EXIT

seconds=10800
frames=$((seconds * 48000))
sox -q -n -r 48000 -c 2 -b 24 -e signed-integer "$tmp/in.wav" synth "$seconds" whitenoise vol 0.5
start=$(date +%s.%N)
"$exe" "$tmp/in.wav" "$tmp/out.wav" --format :double --mask 3600-3601 2>"$tmp/stderr"
end=$(date +%s.%N)
cat "$tmp/stderr"
info="$(sndfile-info "$tmp/out.wav")"
bytes=$(stat -c %s "$tmp/out.wav")
read_frames=$(awk '/^Frames/ {print $3}' <<<"$info")
format=$(awk '/^Format/ {print $3}' <<<"$info")
awk -v s="$start" -v e="$end" -v b="$bytes" 'BEGIN { printf "wall %.1f s, output %.2f GB\n", e - s, b / 1e9 }'
echo "format $format, frames $read_frames of $frames"
grep -q "written as RF64" "$tmp/stderr" || { echo "large_wav: FAIL: no RF64 warning" >&2; exit 1; }
[ "$format" = "0x00220007" ] || { echo "large_wav: FAIL: not an RF64 of doubles" >&2; exit 1; }
[ "$read_frames" = "$frames" ] || { echo "large_wav: FAIL: frames missing" >&2; exit 1; }
echo "large_wav: ok"
