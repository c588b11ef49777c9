#!/usr/bin/env bash
# Runs the download benchmark: starts nginx on loopback with the peers script, puts a
# 256 MB file in its document root, builds the benchmark with the "bench" preset and
# times FetchPage (the whole file into memory) against curl on it, both curl -o /dev/null
# (the target: at most 1.25 times its time, judged by the exit status) and curl writing
# the file to tmpfs (for comparison). BUILD_DIR overrides the preset's folder,
# BENCH_ROUNDS the number of rounds (9), BENCH_SIZE_MB the file's size (256).
#
# Why the 1.25 target is out of reach on a machine like ours (a VM with 2 cores, Linux
# 6.18, huge pages on madvise; 9 rounds, medians with lowest-highest): curl -o /dev/null
# reads the file through a small buffer that stays in the cache and never touches fresh
# memory, in 0.17-0.19 s (0.14-0.24). FetchPage has to hold the body and hand it out as a
# string, so 256 MB of fresh memory must be written, and the kernel clears every fresh
# page on first touch: a plain malloc and memset of 256 MB takes 0.14 s here with 4 KiB
# pages, most of a whole curl run, and 0.032 s with the huge pages the stream asks for.
# As no Content-Length may make the client reserve memory that has not arrived, the body
# cannot go into its final string from the first byte: it grows in a remapped block until
# half of it is in, then moves into a string of its full size, so 384 MB are cleared and
# 128 MB copied. That puts the floor near 1.35-1.45 times curl; the best rounds reach
# 1.22-1.37. The median is 1.6-1.95 because huge pages on this VM now and then come from
# memory the host has to back again: a fresh 256 MB huge-page memset then takes 0.3-0.6 s
# instead of 0.032 s, which shows as FetchPage rounds of 0.45-0.75 s. With 4 KiB pages
# the same code takes 0.40-0.53 s. curl writing the same file into tmpfs, which fills
# fresh memory too, takes 0.33-0.40 s, and FetchPage 0.8 times that. Peak memory is
# 284.5 MB against the 313.6 MB target (before the huge-page block and the move into the
# final string: 0.53 s, 2.9 times curl, 1.6 times tmpfs, peak 532 MB).
set -euo pipefail
cd "$(dirname "$0")/.."
size_mb=${BENCH_SIZE_MB:-256}
rounds=${BENCH_ROUNDS:-9}

peers=$(mktemp -d /tmp/fetchora-bench.XXXXXX)
cleanup() {
    # shellcheck source=/dev/null
    source tests/support/peers/stop.sh "$peers"
    rm -rf "$peers"
}
trap cleanup EXIT
# shellcheck source=/dev/null
source tests/support/peers/start.sh "$peers"
[ -n "${FETCHORA_NGINX_PORT:-}" ] || { echo "nginx did not start" >&2; exit 1; }
head -c "$((size_mb * 1024 * 1024))" /dev/urandom >"$peers/www/big.bin"

build_dir=${BUILD_DIR:-build/bench}
if [ -n "${BUILD_DIR:-}" ]; then
    cmake -S . -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=Release -DFETCHORA_BENCH=ON \
        -DFETCHORA_TESTS=OFF >/dev/null
else
    cmake --preset bench >/dev/null
fi
cmake --build "$build_dir" --target download_bench -j2
"$build_dir/bench/download/download_bench" "http://127.0.0.1:$FETCHORA_NGINX_PORT/big.bin" \
    "$((size_mb * 1024 * 1024))" "$rounds"
