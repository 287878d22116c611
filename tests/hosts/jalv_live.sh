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
# shellcheck source=jack_session.sh
source "$(dirname "${BASH_SOURCE[0]}")/jack_session.sh"

jack_start "zendrik-live-test-$$" jackd jalv jack_lsp jack_rec jack_connect sox
jalv_start zendrik-live -c delay=1 -c bleep=1 -c frequency=1000 -c level=0.5 "$uri"
jack_connect system:capture_1 zendrik-live:in || fail "jack_connect failed"

# Held from the start: after the first second the tone airs.
sleep 1.5
record held 3 zendrik-live:out
echo "bleep = 0" >&3
# Let go: a second later the silence airs again (jalv takes the command when
# it gets to it, later on a busy machine).
record_silence zendrik-live:out
kill -0 "$jalv_pid" 2>/dev/null || fail "jalv died"

held_max=$(stat_of "$work/held.wav" "Maximum amplitude")
held_freq=$(peak_freq "$work/held.wav")
off_max=$(stat_of "$work/off.wav" "Maximum amplitude")
awk -v m="$held_max" 'BEGIN {exit !(m > 0.49 && m < 0.51)}' || fail "bleep peak $held_max, expected 0.5"
awk -v f="$held_freq" 'BEGIN {exit !(f > 950 && f < 1050)}' || fail "bleep about $held_freq Hz, expected 1000"
awk -v m="$off_max" 'BEGIN {exit !(m == 0)}' || fail "let go, the output still sounds (peak $off_max)"

jalv_finish
echo "zendrik live in jalv under JACK (dummy, 48 kHz): Bleep held airs the tone (peak $held_max, about $held_freq Hz), let go airs the silence; no errors"
