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
# shellcheck source=jack_session.sh
source "$(dirname "${BASH_SOURCE[0]}")/jack_session.sh"

jack_start "zendrik-test-$$" jackd jalv jack_lsp jack_rec sox
jalv_start zendrik-test -c enable=1 -c frequency=1000 -c level=0.5 "$uri"

# Switch on: a 1 kHz tone at half scale.
record on 4 zendrik-test:out
kill -0 "$jalv_pid" 2>/dev/null || fail "jalv died while running the tone"
# Switch off through the console: the (silent) capture passes through.
jack_connect system:capture_1 zendrik-test:in || fail "jack_connect failed"
echo "enable = 0" >&3
record_silence zendrik-test:out
kill -0 "$jalv_pid" 2>/dev/null || fail "jalv died after the switch went off"

on_max=$(stat_of "$work/on.wav" "Maximum amplitude")
on_freq=$(peak_freq "$work/on.wav")
on_len=$(stat_of "$work/on.wav" "Length")
off_max=$(stat_of "$work/off.wav" "Maximum amplitude")
awk -v m="$on_max" 'BEGIN {exit !(m > 0.49 && m < 0.51)}' || fail "tone peak $on_max, expected 0.5"
awk -v f="$on_freq" 'BEGIN {exit !(f > 950 && f < 1050)}' || fail "tone frequency about $on_freq Hz, expected 1000"
awk -v l="$on_len" 'BEGIN {exit !(l > 3.5)}' || fail "recorded only $on_len s"
awk -v m="$off_max" 'BEGIN {exit !(m == 0)}' || fail "switch off still sounds (peak $off_max)"

jalv_finish
echo "jalv under JACK (dummy, 48 kHz, 256-sample periods): ${on_len} s of tone, peak $on_max, about $on_freq Hz; switch off: silence; no errors"
