#!/usr/bin/env bash
# SPDX-License-Identifier: ISC
# zendrik live in a real-time host: Debian's jalv runs it from the build tree
# under a JACK server of its own with the dummy backend. The operator holds
# Bleep with a 1 s delay: the silent capture airs as the 1 kHz tone a second
# later; let go, the output falls silent again. sox measures what jack_rec
# recorded. Exits 77 (skipped) when JACK cannot start on this machine.
#   jalv_live.sh LV2_DIR LIVE_URI
set -uo pipefail
LV2_PATH=$(cd "$1" && pwd) || exit 1
export LV2_PATH
uri=$2
skip() { echo "SKIPPED: $*"; exit 77; }
fail() { echo "FAIL: $*" >&2; [ -f "$work/jalv.log" ] && sed 's/^/  jalv: /' "$work/jalv.log" >&2; exit 1; }

for tool in jackd jalv jack_lsp jack_rec jack_connect sox; do
  command -v "$tool" >/dev/null || skip "$tool is not installed"
done
work=$(mktemp -d)
jackd_pid='' jalv_pid=''
cleanup() {
  exec 3>&- 2>/dev/null
  for pid in $jalv_pid $jackd_pid; do
    kill "$pid" 2>/dev/null && wait "$pid" 2>/dev/null
  done
  rm -rf "$work"
}
trap cleanup EXIT

export JACK_DEFAULT_SERVER="zendrik-live-test-$$" JACK_NO_AUDIO_RESERVATION=1 JACK_NO_START_SERVER=1
jackd --no-realtime -n "$JACK_DEFAULT_SERVER" -d dummy -r 48000 -p 256 >"$work/jackd.log" 2>&1 &
jackd_pid=$!
up=''
for _ in $(seq 150); do
  jack_lsp >/dev/null 2>&1 && { up=1; break; }
  kill -0 "$jackd_pid" 2>/dev/null || break
  sleep 0.2
done
[ -n "$up" ] || skip "JACK (dummy backend) did not start here: $(tail -3 "$work/jackd.log" | tr '\n' ' ')"

mkfifo "$work/console"
jalv -n zendrik-live -c delay=1 -c bleep=1 -c frequency=1000 -c level=0.5 "$uri" <"$work/console" >"$work/jalv.log" 2>&1 &
jalv_pid=$!
exec 3>"$work/console"
ports=''
for _ in $(seq 150); do
  ports=$(jack_lsp 2>/dev/null | grep '^zendrik-live:' | sort | tr '\n' ' ')
  [ "$ports" = "zendrik-live:in zendrik-live:out " ] && break
  kill -0 "$jalv_pid" 2>/dev/null || fail "jalv exited at start"
  sleep 0.2
done
[ "$ports" = "zendrik-live:in zendrik-live:out " ] || fail "jalv's ports did not appear (saw: $ports)"
jack_connect system:capture_1 zendrik-live:in || fail "jack_connect failed"

stat_of() { sox "$1" -n stat 2>&1 | awk -F: -v k="$2" '$1 ~ k {gsub(/ /, "", $2); print $2}'; }
# Held from the start: after the first second the tone airs.
sleep 1.5
jack_rec -f "$work/held.wav" -d 3 -b 24 zendrik-live:out >/dev/null 2>&1 || fail "jack_rec failed"
echo "bleep = 0" >&3
# Let go: a second later the silence airs again (jalv takes the command when
# it gets to it, later on a busy machine).
for _ in $(seq 30); do
  jack_rec -f "$work/settle.wav" -d 1 -b 24 zendrik-live:out >/dev/null 2>&1 || fail "jack_rec failed"
  [ "$(stat_of "$work/settle.wav" "Maximum amplitude")" = "0.000000" ] && break
done
jack_rec -f "$work/off.wav" -d 2 -b 24 zendrik-live:out >/dev/null 2>&1 || fail "jack_rec failed"
kill -0 "$jalv_pid" 2>/dev/null || fail "jalv died"

held_max=$(stat_of "$work/held.wav" "Maximum amplitude")
held_freq=$(sox "$work/held.wav" -n stat -freq 2>&1 | awk 'NF == 2 && $1 + 0 == $1 && $2 > peak {peak = $2; f = $1} END {print f}')
off_max=$(stat_of "$work/off.wav" "Maximum amplitude")
awk -v m="$held_max" 'BEGIN {exit !(m > 0.49 && m < 0.51)}' || fail "bleep peak $held_max, expected 0.5"
awk -v f="$held_freq" 'BEGIN {exit !(f > 950 && f < 1050)}' || fail "bleep about $held_freq Hz, expected 1000"
awk -v m="$off_max" 'BEGIN {exit !(m == 0)}' || fail "let go, the output still sounds (peak $off_max)"

exec 3>&-
for _ in $(seq 25); do kill -0 "$jalv_pid" 2>/dev/null || break; sleep 0.2; done
if grep -Eiq 'error|fail|warning|xrun' "$work/jalv.log"; then
  fail "jalv reported problems"
fi
echo "zendrik live in jalv under JACK (dummy, 48 kHz): Bleep held airs the tone (peak $held_max, about $held_freq Hz), let go airs the silence; no errors"
