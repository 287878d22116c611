#!/usr/bin/env bash
# SPDX-License-Identifier: ISC
# Benchmark for zendrik-mask on video (not a test): a 1080p 25 fps H.264 MP4
# with AAC stereo at 128 kbps, a one-second range every ten seconds, masked
# by zendrik-mask and by ffmpeg copying the video with an audio filter that
# bleeps the same ranges (mute, plus a 1 kHz tone at half scale) and encoding
# the sound again with its AAC encoder at the same bit rate. A plain `cp` of
# the file is the floor. Prints the wall time of each, in one run. The long
# file is a minute encoded once and joined to itself with ffmpeg's concat
# demuxer, its packets copied: encoding an hour of 1080p would take longer
# than the run.
#
#   bench/media_bench.sh [SECONDS] [BUILD_DIR]   (defaults: 3600, build/release)
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
seconds="${1:-3600}"
build="$(cd "${2:-$root/build/release}" && pwd)"
exe="$build/bin/zendrik-mask"
[ -x "$exe" ] || { echo "media_bench: no $exe; build first (cmake --build --preset release)" >&2; exit 2; }
command -v ffmpeg >/dev/null || { echo "media_bench: needs ffmpeg" >&2; exit 2; }
export LV2_PATH="$build/lv2"

tmp="$(mktemp -d "${TMPDIR:-/tmp}/zendrik-media-bench.XXXXXX")"
trap 'rm -rf "$tmp"' EXIT

# piece SECONDS FILE: that much 1080p video with AAC stereo, encoded.
piece() {
  ffmpeg -v error -f lavfi -i "testsrc2=size=1920x1080:rate=25:duration=$1" \
    -f lavfi -i "anoisesrc=sample_rate=48000:amplitude=0.2:duration=$1" \
    -filter_complex "[1:a]pan=stereo|c0=c0|c1=c0[a]" -map 0:v -map "[a]" \
    -c:v libx264 -preset ultrafast -crf 30 -g 250 -c:a aac -b:a 128k "$2"
}
echo "media_bench: making a ${seconds} s 1080p MP4" >&2
minute=$((seconds < 60 ? seconds : 60))
piece "$minute" "$tmp/minute.mp4"
: >"$tmp/pieces.txt"
for ((i = 0; i < seconds / minute; i++)); do
  echo "file 'minute.mp4'" >>"$tmp/pieces.txt"
done
if ((seconds % minute > 0)); then
  piece $((seconds % minute)) "$tmp/rest.mp4"
  echo "file 'rest.mp4'" >>"$tmp/pieces.txt"
fi
ffmpeg -v error -f concat -safe 0 -i "$tmp/pieces.txt" -c copy "$tmp/in.mp4"
rm -f "$tmp/minute.mp4" "$tmp/rest.mp4"

args=()
last=0
for ((t = 5; t + 1 <= seconds; t += 10)); do
  args+=(--mask "$t-$((t + 1))")
  last=$((t + 1))
done
# One term for every range: FFmpeg's expressions do not take hundreds.
enable="between(mod(t,10),5,6)*lte(t,$last)"
filter="[0:a]volume=volume=0:enable='$enable'[muted];"
filter+="sine=frequency=1000:sample_rate=48000,pan=stereo|c0=c0|c1=c0,volume=volume=4,"
filter+="volume=volume=0:enable='not($enable)'[tone];"
filter+="[muted][tone]amix=inputs=2:duration=first:normalize=0[out]"

# timed NAME COMMAND...: prints the wall time; the output goes away after.
timed() {
  local name=$1 start end
  shift
  cat "$tmp/in.mp4" >/dev/null
  sync
  start=$(date +%s.%N)
  "$@"
  sync
  end=$(date +%s.%N)
  awk -v n="$name" -v s="$start" -v e="$end" 'BEGIN { printf "%-16s %8.2f s\n", n, e - s }'
  rm -f "$tmp"/out.mp4
}

length=$(ffprobe -v error -show_entries format=duration -of default=nw=1:nk=1 "$tmp/in.mp4")
printf 'input: %s s, %s MiB\n' "$length" "$(($(stat -c %s "$tmp/in.mp4") / 1048576))"
timed "cp" cp "$tmp/in.mp4" "$tmp/out.mp4"
timed "zendrik-mask" "$exe" -q "$tmp/in.mp4" "$tmp/out.mp4" "${args[@]}"
timed "ffmpeg" ffmpeg -v error -i "$tmp/in.mp4" -filter_complex "$filter" -map 0:v -map "[out]" -c:v copy \
  -c:a aac -b:a 128k "$tmp/out.mp4"
