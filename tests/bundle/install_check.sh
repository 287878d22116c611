#!/usr/bin/env bash
# SPDX-License-Identifier: ISC
# `cmake --install` lays out a bundle that hosts find under <prefix>/lib/lv2.
#   install_check.sh BUILD_DIR URI
set -euo pipefail
uri=$2
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT
cmake --install "$1" --prefix "$prefix" >/dev/null
bundle="$prefix/lib/lv2/zendrik.lv2"
for f in zendrik.so manifest.ttl zendrik.ttl presets.ttl; do
  [ -f "$bundle/$f" ] || { echo "FAIL: $bundle/$f not installed" >&2; exit 1; }
done
found=$(LV2_PATH="$prefix/lib/lv2" lv2ls)
[ "$found" = "$uri" ] || { echo "FAIL: lv2ls printed: $found" >&2; exit 1; }
echo "installed bundle found by lv2ls at $bundle"
