#!/usr/bin/env bash
# SPDX-License-Identifier: ISC
# Drives the bundle through Debian's LV2 hosts that run it on audio files.
# (What hosts read from the bundle is the metadata test's, through lilv.)
# LV2_PATH must point at the build tree's lv2 folder.
#   host_test.sh lv2apply|lv2file WAV_CHECK URI
set -euo pipefail
host=$1 wav_check=$2 uri=$3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

fail() { echo "FAIL: $*" >&2; exit 1; }

case "$host" in
lv2apply)
  "$wav_check" make "$work/in.wav" 96000 48000
  lv2apply -i "$work/in.wav" -o "$work/off.wav" -c enable 0 "$uri"
  "$wav_check" same "$work/in.wav" "$work/off.wav"
  # lv2apply runs one sample a block: the phase must carry across all of them.
  lv2apply -i "$work/in.wav" -o "$work/on.wav" -c enable 1 -c frequency 1234.5 -c level 0.7 "$uri"
  "$wav_check" tone "$work/on.wav" 1234.5 0.7
  ;;
lv2file)
  # lv2file turns -0.0 into +0.0 on its own (it sums channels into the
  # plugin's input), so this signal carries no negative zero.
  "$wav_check" make "$work/in.wav" 96000 44100 positive-zero
  lv2file -i "$work/in.wav" -o "$work/off.wav" -p enable:0 "$uri"
  "$wav_check" same "$work/in.wav" "$work/off.wav"
  for block in 512 333 1; do
    lv2file -b "$block" -i "$work/in.wav" -o "$work/on-$block.wav" -p enable:1 -p frequency:440 -p level:1 "$uri"
    "$wav_check" tone "$work/on-$block.wav" 440 1
  done
  ;;
*)
  fail "unknown host $host"
  ;;
esac
