#!/usr/bin/env bash
# Builds the transfer-run benchmarks with the "bench" preset and runs them against nginx
# on loopback, every side writing under one temporary folder:
#   transfer: a toolbar window offscreen downloads a queue of 1,000 files of 1 to 50 KB
#     and a queue of one 256 MB file, against `wget --no-http-keep-alive -i` of the same
#     list and `curl -o` of the big file; medians of time and peak memory (run_bench).
#   Where it can (as root, with loop devices) each part writes to a new file system of its
#   own (bench_scratch_fs), so that earlier work on the disk does not change the figures.
#   scale: runs of 1,000 small files and of 1,000, 10,000 and 20,000 tiny ones against
#     wget, the 1,000 small files by host name (localhost) against the same by address,
#     and 1,000 size probes by host name against `curl -s -I --http1.0` with the 1,000
#     addresses in one invocation, and a run of one file against wget (the start of each
#     side, subtracted for a figure of the files alone); each case in pairs whose sides
#     take turns to go first (three times as many for the cases of at most 1,000 files),
#     `sync` before every run, the median of the pairs' own ratios and their spread
#     (scale_bench).
# usage: scripts/bench-run.sh [--quick | --scale | --transfer]
#   (none)      both; --scale or --transfer only the one
#   --quick     the scale cases without the 20,000 files, two pairs each (a few minutes)
# BENCH_BUILD_DIR chooses another build directory (default build/bench); BENCH_ROUNDS the
# number of rounds or pairs (default 3, 2 with --quick; tripled for the scale cases of at
# most 1,000 files); BENCH_TIMEOUT the limit of one
# measurement in seconds (default 900). Exit status: 0 when every run completed (and, for
# the scale cases, every target was met), 3 when a scale target was missed, 1 when a run
# failed or a file differs. Installs nothing: scripts/deps.sh build bench installs what
# it needs.
set -euo pipefail
cd "$(dirname "$0")/.."
repo=$(pwd)

mode=all
case "${1:-}" in
"") ;;
--quick) mode=quick ;;
--scale) mode=scale ;;
--transfer) mode=transfer ;;
*)
    echo "usage: scripts/bench-run.sh [--quick | --scale | --transfer]" >&2
    exit 2
    ;;
esac

# shellcheck source=bench-common.sh
source scripts/bench-common.sh
bench_require bench-run.sh wget curl cmake ninja

build_dir=${BENCH_BUILD_DIR:-build/bench}
default_rounds=3
[ "$mode" = quick ] && default_rounds=2
rounds=${BENCH_ROUNDS:-$default_rounds}
timeout=${BENCH_TIMEOUT:-900}
run_transfer=0
run_scale=0
case "$mode" in
all) run_transfer=1 run_scale=1 ;;
transfer) run_transfer=1 ;;
scale | quick) run_scale=1 ;;
esac

targets=(run_bench run_bench_launch)
[ $run_scale = 1 ] && targets+=(scale_bench)
bench_build "$build_dir" "${targets[@]}"
bench_dir="$repo/$build_dir/bench/run"
case "$build_dir" in /*) bench_dir="$build_dir/bench/run" ;; esac

bench_start_peers bench-run.sh
docroot="$FETCHORA_PEERS_ROOT/www/bench"
base_url="http://127.0.0.1:$FETCHORA_NGINX_PORT/bench"

echo "==> Running in $work ($(df -h --output=target "$work" | tail -1 | tr -d ' '))"
# The machine's load, for judging the figures: the benchmark shares the CPUs and the disk.
echo "    load average before: $(cut -d' ' -f1-3 /proc/loadavg)"
status=0

if [ $run_transfer = 1 ]; then
    echo "==> Generating 1,000 small files and one 256 MB file in $docroot"
    "$bench_dir/run_bench" generate "$docroot"
    chmod -R a+rX "$docroot"
    if ! curl -sf -o /dev/null "$base_url/big/big.bin" -r 0-0; then
        echo "bench-run.sh: nginx does not serve $base_url/big/big.bin" >&2
        exit 1
    fi
    echo "==> Transfer: $rounds rounds"
    bench_scratch_fs "$work/out" 8G
    "$bench_dir/run_bench" compare "$docroot" "$base_url" "$work/out" "$rounds" "$timeout" ||
        status=1
    rm -rf "$docroot/big"
fi

if [ $run_scale = 1 ]; then
    echo "==> Generating 20,000 tiny files and 1,000 small ones in $docroot"
    rm -rf "$docroot/small"
    "$bench_dir/scale_bench" generate "$docroot"
    chmod -R a+rX "$docroot"
    if ! curl -sf -o /dev/null "http://localhost:$FETCHORA_NGINX_PORT/bench/tiny/t00000.bin"; then
        echo "bench-run.sh: nginx does not serve the tiny files by host name" >&2
        exit 1
    fi
    echo "==> Scale: $rounds pairs per case"
    bench_scratch_fs "$work/scale" 8G
    quick=""
    [ "$mode" = quick ] && quick=quick
    scale_status=0
    "$bench_dir/scale_bench" compare "$docroot" "$FETCHORA_NGINX_PORT" "$work/scale" "$rounds" \
        "$timeout" $quick || scale_status=$?
    if [ $scale_status = 1 ] || [ $scale_status -gt 3 ]; then
        status=1
    elif [ $scale_status = 3 ] && [ $status = 0 ]; then
        status=3
    fi
fi

echo "    load average after: $(cut -d' ' -f1-3 /proc/loadavg)"
exit $status
