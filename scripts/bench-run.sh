#!/usr/bin/env bash
# Builds the transfer-run benchmark with the "bench" preset and runs it: a toolbar window
# offscreen downloads a queue of 1,000 files of 1 to 50 KB and a queue of one 256 MB file
# from nginx on loopback, against `wget --no-http-keep-alive -i` of the same list and
# `curl -o` of the big file, three rounds each, every side writing under one temporary
# folder. Prints the medians of time and peak memory against the targets.
# BENCH_BUILD_DIR chooses another build directory (default build/bench); BENCH_ROUNDS
# the number of rounds (default 3); BENCH_TIMEOUT the limit of one measurement in seconds
# (default 900). Installs nothing: scripts/deps.sh build bench installs what it needs.
set -euo pipefail
cd "$(dirname "$0")/.."
repo=$(pwd)

# shellcheck source=bench-common.sh
source scripts/bench-common.sh
bench_require bench-run.sh wget curl cmake ninja

build_dir=${BENCH_BUILD_DIR:-build/bench}
rounds=${BENCH_ROUNDS:-3}
timeout=${BENCH_TIMEOUT:-900}

bench_build "$build_dir" run_bench run_bench_launch
bench="$repo/$build_dir/bench/run/run_bench"
case "$build_dir" in /*) bench="$build_dir/bench/run/run_bench" ;; esac

bench_start_peers bench-run.sh
docroot="$FETCHORA_PEERS_ROOT/www/bench"
base_url="http://127.0.0.1:$FETCHORA_NGINX_PORT/bench"

echo "==> Generating 1,000 small files and one 256 MB file in $docroot"
"$bench" generate "$docroot"
chmod -R a+rX "$docroot"
if ! curl -sf -o /dev/null "$base_url/big/big.bin" -r 0-0; then
    echo "bench-run.sh: nginx does not serve $base_url/big/big.bin" >&2
    exit 1
fi

echo "==> Running $rounds rounds (temporary folder $work, $(df -h --output=target "$work" | tail -1 | tr -d ' '))"
# The machine's load, for judging the figures: the benchmark shares the CPUs and the disk.
echo "    load average before: $(cut -d' ' -f1-3 /proc/loadavg)"
status=0
"$bench" compare "$docroot" "$base_url" "$work/out" "$rounds" "$timeout" || status=$?
echo "    load average after: $(cut -d' ' -f1-3 /proc/loadavg)"
exit $status
