#!/usr/bin/env bash
# SPDX-License-Identifier: ISC
# `cmake --install` lays out a bundle that hosts find under <prefix>/lib/lv2.
#   install_check.sh BUILD_DIR URI LIVE_URI
set -euo pipefail
uri=$2
live_uri=$3
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT
cmake --install "$1" --prefix "$prefix" >/dev/null
bundle="$prefix/lib/lv2/zendrik.lv2"
for f in zendrik.so manifest.ttl zendrik.ttl presets.ttl; do
  [ -f "$bundle/$f" ] || { echo "FAIL: $bundle/$f not installed" >&2; exit 1; }
done
expected=$uri
# zendrik live comes with zendrik-mask, whose word finder it uses.
if [ -f "$bundle/zendrik_live.so" ]; then
  for f in live.ttl live_presets.ttl profanity.txt words-strong.txt; do
    [ -f "$bundle/$f" ] || { echo "FAIL: zendrik live installed without $f" >&2; exit 1; }
  done
  expected=$(printf '%s\n%s\n' "$uri" "$live_uri" | sort)
fi
found=$(LV2_PATH="$prefix/lib/lv2" lv2ls | sort)
[ "$found" = "$expected" ] || { echo "FAIL: lv2ls printed: $found" >&2; exit 1; }
echo "installed bundle found by lv2ls at $bundle"
# The word lists installed beside zendrik-mask, found by their names.
mask="$prefix/bin/zendrik-mask"
if [ -x "$mask" ]; then
  [ -f "$prefix/share/zendrik/words/profanity.txt" ] || { echo "FAIL: no word list installed" >&2; exit 1; }
  sox -n -r 16000 -c 1 "$prefix/quiet.wav" trim 0 1
  printf '1\n00:00:00,100 --> 00:00:00,400\nDamned!\n' >"$prefix/said.srt"
  summary=$("$mask" "$prefix/quiet.wav" --dry-run --words profanity --transcript "$prefix/said.srt" 2>&1)
  case "$summary" in
  *"'damn*' 1"*) echo "installed zendrik-mask finds its word list" ;;
  *) echo "FAIL: $summary" >&2; exit 1 ;;
  esac
fi
