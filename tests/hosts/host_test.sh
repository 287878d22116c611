#!/usr/bin/env bash
# SPDX-License-Identifier: ISC
# Drives the bundle through Debian's LV2 hosts. LV2_PATH must point at the
# build tree's lv2 folder.
#   host_test.sh lv2info|lv2apply|lv2file WAV_CHECK URI
set -euo pipefail
host=$1 wav_check=$2 uri=$3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

fail() { echo "FAIL: $*" >&2; exit 1; }

case "$host" in
lv2info)
  lv2ls | grep -qx "$uri" || fail "lv2ls does not list $uri"
  info=$(lv2info "$uri")
  # Port N's block: its symbol, range and default.
  port() { awk -v p="Port $1:" '$0 ~ p {on=1; next} /Port [0-9]+:/ {on=0} on' <<<"$info"; }
  expect_port() {
    local n=$1 kind=$2 dir=$3 symbol=$4 rest=("${@:5}") block
    block=$(port "$n")
    grep -q "lv2core#$kind" <<<"$block" || fail "port $n is not a $kind"
    grep -q "lv2core#$dir" <<<"$block" || fail "port $n is not an $dir"
    grep -Eq "Symbol: +$symbol\$" <<<"$block" || fail "port $n symbol is not $symbol"
    for line in "${rest[@]}"; do
      grep -Eq "$line" <<<"$block" || fail "port $n lacks '$line'"
    done
  }
  expect_port 0 ControlPort InputPort frequency "Minimum: +20\.0+" "Maximum: +20000\.0+" "Default: +1000\.0+"
  expect_port 1 ControlPort InputPort level "Minimum: +0\.0+" "Maximum: +1\.0+" "Default: +0\.50+"
  expect_port 2 ControlPort InputPort enable "Default: +0\.0+" "lv2core#toggled" "lv2core#integer"
  expect_port 3 AudioPort InputPort in
  expect_port 4 AudioPort OutputPort out
  port 5 | grep -q . && fail "lv2info shows a sixth port"
  grep -q "hardRTCapable" <<<"$info" || fail "hardRTCapable is not declared"
  grep -q "Broadcast bleep" <<<"$info" || fail "presets are not listed"
  echo "lv2info: five ports as declared"
  ;;
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
