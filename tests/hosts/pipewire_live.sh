#!/usr/bin/env bash
# SPDX-License-Identifier: ISC
# zendrik live as a PipeWire virtual microphone, with the recipe shipped in
# scripts/pipewire: a PipeWire daemon of our own, headless (a null sink
# stands for the sound card, the dummy driver for its clock), WirePlumber
# linking as on a desktop. A LibriVox reading played into the sink comes out
# of "zendrik live microphone" exactly as it went in, the delay later; every
# process started here is stopped. Exits 77 (skipped) when the daemons cannot
# start on this machine.
#   pipewire_live.sh LV2_DIR RECIPE DELAY_CHECK
set -uo pipefail
LV2_PATH=$(cd "$1" && pwd) || exit 1
export LV2_PATH
recipe=$2
delay_check=$3
delay=2
skip() { echo "SKIPPED: $*"; exit 77; }
fail() {
  echo "FAIL: $*" >&2
  for log in pipewire wireplumber record; do
    [ -f "$work/$log.log" ] && tail -5 "$work/$log.log" | sed "s/^/  $log: /" >&2
  done
  exit 1
}

for tool in pipewire wireplumber dbus-run-session pw-play pw-record pw-link sox; do
  command -v "$tool" >/dev/null || skip "$tool is not installed"
done
work=$(mktemp -d)
pipewire_pid='' session_pid='' record_pid=''
cleanup() {
  [ -n "$record_pid" ] && kill -INT "$record_pid" 2>/dev/null && wait "$record_pid" 2>/dev/null
  # dbus-run-session does not pass a signal on to the session manager.
  [ -n "$session_pid" ] && kill $(pgrep -P "$session_pid") "$session_pid" 2>/dev/null
  [ -n "$pipewire_pid" ] && kill "$pipewire_pid" 2>/dev/null && wait "$pipewire_pid" 2>/dev/null
  wait 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

# A runtime folder of our own: nothing else on the machine is touched.
export XDG_RUNTIME_DIR="$work/run" PIPEWIRE_RUNTIME_DIR="$work/run"
mkdir -m 700 "$work/run"
mkdir -p "$work/config/pipewire.conf.d"
cat >"$work/config/pipewire.conf" <<'CONF'
context.properties = { core.daemon = true  core.name = pipewire-0  default.clock.rate = 48000  mem.allow-mlock = false }
context.spa-libs = { audio.convert.* = audioconvert/libspa-audioconvert  support.* = support/libspa-support }
context.modules = [
    { name = libpipewire-module-protocol-native }
    { name = libpipewire-module-access }
    { name = libpipewire-module-metadata }
    { name = libpipewire-module-spa-node-factory }
    { name = libpipewire-module-client-node }
    { name = libpipewire-module-adapter }
    { name = libpipewire-module-link-factory }
]
context.objects = [
    { factory = spa-node-factory
      args = { factory.name = support.node.driver  node.name = Dummy-Driver  node.group = pipewire.dummy  priority.driver = 20000 } }
    { factory = adapter
      args = { factory.name = support.null-audio-sink  node.name = speech_sink  media.class = Audio/Sink  audio.position = [ MONO ] } }
]
CONF
# The recipe as shipped, with a short delay, the recogniser's bleeps off (the
# reading holds no listed word; only the delay line is measured here), and its
# input taken from the test's sink instead of a microphone.
sed -e 's/"delay" *= *[0-9.]*/"delay" = '"$delay"'/' -e 's/"auto" *= *1/"auto" = 0/' \
  -e 's/node.name *= *"zendrik_live.capture"/& target.object = "speech_sink" stream.capture.sink = true/' \
  "$recipe" >"$work/config/pipewire.conf.d/zendrik-live.conf"

PIPEWIRE_CONFIG_DIR="$work/config" pipewire >"$work/pipewire.log" 2>&1 &
pipewire_pid=$!
dbus-run-session -- wireplumber >"$work/wireplumber.log" 2>&1 &
session_pid=$!

linked() { pw-link -l 2>/dev/null | grep -A1 "^$1\$" | grep -q -- "|-> $2"; }
for _ in $(seq 150); do
  linked speech_sink:monitor_MONO zendrik_live.capture:input_MONO && break
  kill -0 "$pipewire_pid" 2>/dev/null || skip "PipeWire did not start here: $(tail -2 "$work/pipewire.log" | tr '\n' ' ')"
  kill -0 "$session_pid" 2>/dev/null || skip "WirePlumber did not start here: $(tail -2 "$work/wireplumber.log" | tr '\n' ' ')"
  sleep 0.2
done
linked speech_sink:monitor_MONO zendrik_live.capture:input_MONO || fail "the filter's input was never linked to the sink"

# Silence after the reading: pw-play may leave out its last part of a period.
sox /usr/share/pocketsphinx/test/data/librivox/sense_and_sensibility_01_austen_64kb-0870.wav -r 48000 -b 16 \
  "$work/speech.wav" pad 0 0.5 || fail "sox could not make the speech"
# One play of the reading through the filter, recorded and compared.
play_through() {
  pw-record --target zendrik_live.microphone --rate 48000 --channels 1 --format f32 "$work/recorded.wav" \
    >"$work/record.log" 2>&1 &
  record_pid=$!
  for _ in $(seq 100); do
    pw-link -l 2>/dev/null | grep -q '^zendrik_live.microphone:capture_MONO$' && linked zendrik_live.microphone:capture_MONO pw-record && break
    sleep 0.1
  done
  pw-play --target speech_sink "$work/speech.wav" || fail "pw-play failed"
  sleep $((delay + 1))
  kill -INT "$record_pid" && wait "$record_pid"
  record_pid=''
  result=$("$delay_check" "$work/speech.wav" "$work/recorded.wav") || fail "the reading is not in the recording: $result"
  read -r _ lag _ worst <<<"$result"
}
# A loaded machine may make the dummy driver's graph drop a period on its way
# through the clients, which no plugin can help: the reading is played again,
# and one of three plays must come through whole.
for attempt in 1 2 3; do
  play_through
  awk -v w="$worst" 'BEGIN {exit !(w < 1e-4)}' && break
  echo "play $attempt came out changed (by up to $worst): playing it again" >&2
done
# The recording starts before the reading is played, so the lag is the delay
# and the time pw-play took to start.
awk -v l="$lag" -v d="$delay" 'BEGIN {exit !(l >= d && l < d + 3)}' || fail "the reading comes $lag s late, expected $delay s and a little"
awk -v w="$worst" 'BEGIN {exit !(w < 1e-4)}' || fail "the reading comes out changed (by up to $worst)"
echo "zendrik live as a PipeWire source (headless, WirePlumber linking): the reading comes out $lag s late, unchanged (largest difference $worst)"
