#!/usr/bin/env bash
# Builds the page-scan benchmark with the "bench" preset and runs it: our pattern engine
# and the whole page scan against PCRE2 (interpreted) on a generated 2 MB page, and the
# crafted "<a " page. The exit status is 0 when every target is met.
# BENCH_BUILD_DIR chooses another build directory (default build/bench).
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/deps.sh build bench
build_dir=${BENCH_BUILD_DIR:-build/bench}
echo "==> Building scan_bench ($build_dir)"
cmake --preset bench -B "$build_dir" >/dev/null
cmake --build "$build_dir" -j2 --target scan_bench
echo "==> Running scan_bench"
"$build_dir/bench/scan/scan_bench"
