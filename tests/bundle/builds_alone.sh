#!/usr/bin/env bash
# SPDX-License-Identifier: ISC
# The plugin configures and builds with nothing but a C++ compiler, CMake and
# the LV2 headers: pkg-config sees only lv2.pc, every other package is hidden,
# and the build still leaves a complete bundle (and nothing else to build).
#   builds_alone.sh SOURCE_DIR
set -euo pipefail
source_dir=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/pkgconfig"
cp "$(pkg-config --variable=pcfiledir lv2)/lv2.pc" "$work/pkgconfig/"

PKG_CONFIG_LIBDIR="$work/pkgconfig" cmake -S "$source_dir" -B "$work/build" -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_DISABLE_FIND_PACKAGE_GTest=ON -DCMAKE_DISABLE_FIND_PACKAGE_CLI11=ON \
  -DCMAKE_DISABLE_FIND_PACKAGE_benchmark=ON >"$work/configure.log" 2>&1 ||
  { cat "$work/configure.log" >&2; echo "FAIL: configure with only the LV2 headers" >&2; exit 1; }
cmake --build "$work/build" -j2 >"$work/build.log" 2>&1 ||
  { cat "$work/build.log" >&2; echo "FAIL: build with only the LV2 headers" >&2; exit 1; }

for f in zendrik.so manifest.ttl zendrik.ttl presets.ttl; do
  [ -f "$work/build/lv2/zendrik.lv2/$f" ] || { echo "FAIL: no $f in the bundle" >&2; exit 1; }
done
for part in MASK TESTS BENCH; do
  grep -q "^ZENDRIK_BUILD_$part:BOOL=OFF" "$work/build/CMakeCache.txt" ||
    { echo "FAIL: ZENDRIK_BUILD_$part is not off without its dependencies" >&2; exit 1; }
done
echo "the plugin alone built a complete bundle; zendrik-mask, tests and benchmarks were left out"
