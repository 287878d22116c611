#!/usr/bin/env bash
# SPDX-License-Identifier: ISC
# Measures the tone and pass-through speed and writes docs/performance.md and
# docs/performance.png: the module's run against the plain scalar loop and
# memcpy (bench/kernel_bench), then zendrik against the tone plugins from
# Debian through lilv (bench/host_bench).
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
ensure_packages "${ZENDRIK_BUILD_PACKAGES[@]}" "${ZENDRIK_TEST_BUILD_PACKAGES[@]}" x42-plugins lsp-plugins-lv2 mda-lv2 gnuplot-nox
cd "$ZENDRIK_ROOT"

cmake --preset release -DZENDRIK_BUILD_BENCH=ON >/dev/null
cmake --build --preset release --target kernel_bench host_bench

out="$ZENDRIK_ROOT/build/release/bench"
build/release/bench/kernel_bench --benchmark_repetitions=5 --benchmark_enable_random_interleaving=true \
  --benchmark_report_aggregates_only=true --benchmark_min_time=0.05 \
  --benchmark_out="$out/kernel.json" --benchmark_out_format=json >/dev/null
build/release/bench/host_bench >"$out/host.txt"

python3 scripts/bench_report.py "$out/kernel.json" "$out/host.txt" docs
cat docs/performance.md
