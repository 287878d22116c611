#!/usr/bin/env bash
# SPDX-License-Identifier: ISC
# A real-time host: Debian's jalv runs the plugin from the build tree under a
# JACK server with the dummy backend, started and stopped here. jack_rec
# records the plugin's output for a few seconds with the switch on, then with
# it off again (set through jalv's console), and sox measures both.
# Exits 77 (skipped) when JACK cannot start on this machine.
#   jalv_jack.sh LV2_DIR URI
set -uo pipefail
LV2_PATH=$(cd "$1" && pwd) || exit 1
export LV2_PATH
uri=$2
skip() { echo "SKIPPED: $*"; exit 77; }
fail() { echo "FAIL: $*" >&2; [ -f "$work/jalv.log" ] && sed 's/^/  jalv: /' "$work/jalv.log" >&2; exit 1; }

for tool in jackd jalv jack_lsp jack_rec sox; do
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

# A server of our own, so that nothing else on the machine is touched.
export JACK_DEFAULT_SERVER="zendrik-test-$$" JACK_NO_AUDIO_RESERVATION=1 JACK_NO_START_SERVER=1
jackd --no-realtime -n "$JACK_DEFAULT_SERVER" -d dummy -r 48000 -p 256 >"$work/jackd.log" 2>&1 &
jackd_pid=$!
up=''
for _ in $(seq 150); do
  jack_lsp >/dev/null 2>&1 && { up=1; break; }
  kill -0 "$jackd_pid" 2>/dev/null || break
  sleep 0.2
done
[ -n "$up" ] || skip "JACK (dummy backend) did not start here: $(tail -3 "$work/jackd.log" | tr '\n' ' ')"

# jalv's console reads commands from stdin: a FIFO that stays open.
mkfifo "$work/console"
jalv -n zendrik-test -c enable=1 -c frequency=1000 -c level=0.5 "$uri" <"$work/console" >"$work/jalv.log" 2>&1 &
jalv_pid=$!
exec 3>"$work/console"
ports=''
for _ in $(seq 150); do
  ports=$(jack_lsp 2>/dev/null | grep '^zendrik-test:' | sort | tr '\n' ' ')
  [ "$ports" = "zendrik-test:in zendrik-test:out " ] && break
  kill -0 "$jalv_pid" 2>/dev/null || fail "jalv exited at start"
  sleep 0.2
done
[ "$ports" = "zendrik-test:in zendrik-test:out " ] || fail "jalv's ports did not appear (saw: $ports)"

# Switch on: a 1 kHz tone at half scale.
jack_rec -f "$work/on.wav" -d 4 -b 24 zendrik-test:out >/dev/null 2>&1 || fail "jack_rec failed"
kill -0 "$jalv_pid" 2>/dev/null || fail "jalv died while running the tone"
# Switch off through the console: the (silent) capture passes through.
jack_connect system:capture_1 zendrik-test:in || fail "jack_connect failed"
echo "enable = 0" >&3
# jalv takes the command when it gets to it, later on a busy machine: wait
# until a second of output is silent before recording the one measured.
stat_of() { sox "$1" -n stat 2>&1 | awk -F: -v k="$2" '$1 ~ k {gsub(/ /, "", $2); print $2}'; }
for _ in $(seq 30); do
  jack_rec -f "$work/settle.wav" -d 1 -b 24 zendrik-test:out >/dev/null 2>&1 || fail "jack_rec failed"
  [ "$(stat_of "$work/settle.wav" "Maximum amplitude")" = "0.000000" ] && break
done
jack_rec -f "$work/off.wav" -d 2 -b 24 zendrik-test:out >/dev/null 2>&1 || fail "jack_rec failed"
kill -0 "$jalv_pid" 2>/dev/null || fail "jalv died after the switch went off"

on_max=$(stat_of "$work/on.wav" "Maximum amplitude")
# The spectrum's peak, not sox's count of zero crossings: on a busy machine
# JACK may drop a period, and the phase jump that leaves fools the count.
on_freq=$(sox "$work/on.wav" -n stat -freq 2>&1 | awk 'NF == 2 && $1 + 0 == $1 && $2 > peak {peak = $2; f = $1} END {print f}')
on_len=$(stat_of "$work/on.wav" "Length")
off_max=$(stat_of "$work/off.wav" "Maximum amplitude")
awk -v m="$on_max" 'BEGIN {exit !(m > 0.49 && m < 0.51)}' || fail "tone peak $on_max, expected 0.5"
awk -v f="$on_freq" 'BEGIN {exit !(f > 950 && f < 1050)}' || fail "tone frequency about $on_freq Hz, expected 1000"
awk -v l="$on_len" 'BEGIN {exit !(l > 3.5)}' || fail "recorded only $on_len s"
awk -v m="$off_max" 'BEGIN {exit !(m == 0)}' || fail "switch off still sounds (peak $off_max)"

# Close the console: jalv quits on its own.
exec 3>&-
for _ in $(seq 25); do kill -0 "$jalv_pid" 2>/dev/null || break; sleep 0.2; done
if grep -Eiq 'error|fail|warning|xrun' "$work/jalv.log"; then
  fail "jalv reported problems"
fi
echo "jalv under JACK (dummy, 48 kHz, 256-sample periods): ${on_len} s of tone, peak $on_max, about $on_freq Hz; switch off: silence; no errors"
