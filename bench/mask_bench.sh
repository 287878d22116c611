#!/usr/bin/env bash
# SPDX-License-Identifier: ISC
# Benchmark for zendrik-mask (not a test): real-time factor and peak memory on
# a one-hour 48 kHz stereo 24-bit WAV with a one-second range every ten
# seconds, and peak memory on a six-minute file of the same kind to show it
# does not grow with the length. On the hour, in the same run, three rounds: a plain `cp`
# of the file, `cp` followed by an fsync of the copy (zendrik-mask fsyncs its
# output), zendrik-mask's copy path (the default for PCM kept in its format)
# and its decode path (forced with ZENDRIK_MASK_DECODE=1). The files live in
# a temporary folder that is deleted afterwards (about 1.1 GB of disk for the
# hour, twice over).
#
#   bench/mask_bench.sh [BUILD_DIR]     (default: build/release)
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="$(cd "${1:-$root/build/release}" && pwd)"
exe="$build/bin/zendrik-mask"
[ -x "$exe" ] || { echo "mask_bench: no $exe; build first (cmake --build --preset release)" >&2; exit 2; }
command -v sox >/dev/null || { echo "mask_bench: needs sox" >&2; exit 2; }
[ -x /usr/bin/time ] || { echo "mask_bench: needs /usr/bin/time (Debian package 'time')" >&2; exit 2; }
export LV2_PATH="$build/lv2"

tmp="$(mktemp -d "${TMPDIR:-/tmp}/zendrik-mask-bench.XXXXXX")"
trap 'rm -rf "$tmp"' EXIT

# make_input SECONDS: the noise file and its label file.
make_input() {
  local seconds=$1
  sox -q -n -r 48000 -c 2 -b 24 -e signed-integer "$tmp/in-$seconds.wav" synth "$seconds" whitenoise vol 0.5
  : >"$tmp/labels-$seconds.txt"
  for ((t = 5; t + 1 <= seconds; t += 10)); do
    printf '%d.000000\t%d.000000\trange\n' "$t" "$((t + 1))" >>"$tmp/labels-$seconds.txt"
  done
}

# timed COMMAND...: prints "wall_s peak_kib"; the output goes away after.
# Each starts with the disk idle: what earlier runs left to write back would
# otherwise slow whichever comes next.
timed() {
  cat "$tmp"/in-*.wav >/dev/null # the input in the page cache, as after a recording
  sync
  /usr/bin/time -f '%e %M' -o "$tmp/time" "$@"
  rm -f "$tmp/out.wav"
  cat "$tmp/time"
}

# row LABEL SECONDS WALL KIB [REFERENCE_WALL]
row() {
  awk -v l="$1" -v s="$2" -v w="$3" -v k="$4" -v ref="${5:-}" 'BEGIN {
    if (w < 0.01) w = 0.01
    printf "%-34s %8.2f %10.0f %12.1f %8s\n", l, w, s / w, k / 1024, ref == "" ? "" : sprintf("%.2f", w / (ref < 0.01 ? 0.01 : ref)) }'
}

echo "zendrik-mask $("$exe" --version | awk '{print $2}'), $(nproc) CPUs, $(uname -m)"
printf '%-34s %8s %10s %12s %8s\n' "48 kHz stereo 24-bit WAV" "wall s" "x realtime" "peak MiB" "/ cp"
make_input 360
read -r wall kib < <(timed "$exe" "$tmp/in-360.wav" "$tmp/out.wav" --labels "$tmp/labels-360.txt" --quiet)
row "6 min, 36 ranges: zendrik-mask" 360 "$wall" "$kib"
rm -f "$tmp/in-360.wav"

make_input 3600
in="$tmp/in-3600.wav"
# Rounds in turn, each tool's median round: the disk is shared.
declare -A walls kibs
names=(cp sync copy decode)
for _ in 1 2 3; do
  for name in "${names[@]}"; do
    # shellcheck disable=SC2016 # the inner shell expands "$1" and "$2"
    case $name in
      cp) command=(cp "$in" "$tmp/out.wav") ;;
      sync) command=(sh -c 'cp "$1" "$2" && sync "$2"' sh "$in" "$tmp/out.wav") ;;
      copy) command=("$exe" "$in" "$tmp/out.wav" --labels "$tmp/labels-3600.txt" --quiet) ;;
      decode) command=(env ZENDRIK_MASK_DECODE=1 "$exe" "$in" "$tmp/out.wav" --labels "$tmp/labels-3600.txt" --quiet) ;;
    esac
    read -r wall kib < <(timed "${command[@]}")
    walls[$name]+="$wall "
    kibs[$name]=$kib
  done
done
median() { tr ' ' '\n' <<<"$1" | grep . | sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
cp_wall=$(median "${walls[cp]}")
row "60 min: cp" 3600 "$cp_wall" "${kibs[cp]}" "$cp_wall"
row "60 min: cp + fsync" 3600 "$(median "${walls[sync]}")" "${kibs[sync]}" "$cp_wall"
row "60 min, 360 ranges: copy path" 3600 "$(median "${walls[copy]}")" "${kibs[copy]}" "$cp_wall"
row "60 min, 360 ranges: decode path" 3600 "$(median "${walls[decode]}")" "${kibs[decode]}" "$cp_wall"
echo "every run of the hour, in seconds:"
for name in "${names[@]}"; do
  echo "  $name: ${walls[$name]}"
done
