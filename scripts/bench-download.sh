#!/usr/bin/env bash
# Runs the download benchmark: starts nginx on loopback with the peers script, puts a
# 256 MB file in its document root, builds the benchmark with the "bench" preset and
# times FetchPage (the whole file into memory) against curl on it. BUILD_DIR overrides
# the preset's folder.
set -euo pipefail
cd "$(dirname "$0")/.."
size_mb=${BENCH_SIZE_MB:-256}
rounds=${BENCH_ROUNDS:-3}

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
