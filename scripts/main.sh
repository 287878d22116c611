#!/usr/bin/env bash
# The main job: build the plugin, install the bundle into ~/.lv2 where every
# LV2 host looks, and run it through a real host (lv2apply) over a short
# test signal, once with the bleep off and once on.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
ensure_packages "${ZENDRIK_BUILD_PACKAGES[@]}" "${ZENDRIK_HOST_PACKAGES[@]}"
cd "$ZENDRIK_ROOT"

cmake --preset release -DZENDRIK_INSTALL_USER=ON >/dev/null
cmake --build --preset release
cmake --install build/release

out="$ZENDRIK_ROOT/out/demo"
mkdir -p "$out"
uri="http://zendrik.org/plugins/zendrik"

# Three seconds of a 220 Hz tone with a little noise, as 32-bit float WAV.
sox -q -n -r 48000 -c 1 -e floating-point -b 32 "$out/input.wav" \
  synth 3 sine 220 synth 3 pinknoise mix vol 0.5

# Only the standard locations, so this shows what any host on this machine sees.
unset LV2_PATH
lv2apply -i "$out/input.wav" -o "$out/bleep-off.wav" -c enable 0 "$uri"
lv2apply -i "$out/input.wav" -o "$out/bleep-on.wav" -c enable 1 -c frequency 1000 -c level 0.5 "$uri"

cat <<MSG

Installed the bundle in $HOME/.lv2/zendrik.lv2 and ran it through lv2apply.
Files in $out:
  input.wav      the test signal
  bleep-off.wav  switch off: the input, bit for bit
  bleep-on.wav   switch on: a 1 kHz tone at half scale
Listen with: play $out/bleep-on.wav   (or aplay, or any audio player)
MSG
