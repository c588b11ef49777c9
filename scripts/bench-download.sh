#!/usr/bin/env bash
# Runs the download benchmark: starts nginx on loopback with the peers script, puts a
# 256 MB file in its document root, builds the benchmark with the "bench" preset and
# times FetchPage (the whole file into memory) against curl on it, both curl -o /dev/null
# (the target: at most 1.25 times its time, judged by the exit status) and curl writing
# the file to tmpfs (for comparison). BUILD_DIR overrides the preset's folder,
# BENCH_ROUNDS the number of rounds (9), BENCH_SIZE_MB the file's size (256).
#
# Why the 1.25 target is out of reach on a machine like ours (2 cores, Linux 6.18, THP
# on madvise; medians of 9 rounds, lowest-highest): curl -o /dev/null reads the file
# through a small buffer that stays in the cache and never touches fresh memory, in
# 0.18 s (0.15-0.23). FetchPage has to hold the body and hand it out as a string, so
# 256 MB of fresh memory must be written: the kernel clears every fresh page on first
# touch, and a plain malloc and memset of 256 MB takes 0.14-0.17 s here with 4 KiB pages,
# as long as the whole curl run; with huge pages, which the stream asks for, 0.035 s.
# The body cannot go into its final string from the first byte, because no Content-Length
# may make the client reserve memory that has not arrived; it grows in a remapped block
# and is copied once into the string, 0.045 s for 256 MB. So about 0.08 s of the 0.25 s
# that FetchPage takes is memory that curl -o /dev/null never writes, and the rest is the
# same socket reading curl does: the floor is about 1.45 times curl. curl writing the
# same file into tmpfs, which has to fill fresh memory too, takes 0.33 s (0.30-0.41), and
# FetchPage is about 0.9 times that. Peak memory is 293 MB against the 313.6 MB target.
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
