#!/usr/bin/env bash
# SPDX-License-Identifier: ISC
# Benchmark for zendrik-mask (not a test): real-time factor and peak memory on
# a one-hour 48 kHz stereo 24-bit WAV with a one-second range every ten
# seconds, and peak memory on a six-minute file of the same kind to show it
# does not grow with the length. The files live in a temporary folder that is
# deleted afterwards (about 1.1 GB of disk for the hour, twice over).
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

# run SECONDS: prints "seconds wall_s peak_kib"
run() {
  local seconds=$1 in="$tmp/in-$1.wav" labels="$tmp/labels-$1.txt"
  sox -q -n -r 48000 -c 2 -b 24 -e signed-integer "$in" synth "$seconds" whitenoise vol 0.5
  : >"$labels"
  for ((t = 5; t + 1 <= seconds; t += 10)); do
    printf '%d.000000\t%d.000000\trange\n' "$t" "$((t + 1))" >>"$labels"
  done
  cat "$in" >/dev/null # the input in the page cache, as after a recording
  /usr/bin/time -f '%e %M' -o "$tmp/time" "$exe" "$in" "$tmp/out.wav" --labels "$labels" --quiet
  rm -f "$tmp/out.wav" "$in"
  echo "$seconds $(cat "$tmp/time")"
}

echo "zendrik-mask $("$exe" --version | awk '{print $2}'), $(nproc) CPUs, $(uname -m)"
printf '%-28s %10s %10s %14s\n' "file (48 kHz stereo 24-bit)" "wall s" "x realtime" "peak RSS MiB"
for seconds in 360 3600; do
  read -r s wall kib < <(run "$seconds")
  awk -v s="$s" -v w="$wall" -v k="$kib" 'BEGIN {
    if (w < 0.01) w = 0.01
    printf "%-28s %10.2f %10.0f %14.1f\n", (s / 60) " min, " (s / 10) " ranges", w, s / w, k / 1024 }' 
done
