#!/usr/bin/env bash
# Builds the gallery benchmark with the "bench" preset and runs it: the gallery dialog
# offscreen fills its list with every row of a generated 2 MB page (20,000 anchors, 5,000
# images) and answers Apply, and Add probes 1,000 checked rows against nginx on loopback
# next to `curl -s -I --http1.0` of the same addresses in one process, in paired rounds.
# Prints the medians (Add as the median of each round's own ratio) against the targets
# and exits 0 when both are met.
# BENCH_BUILD_DIR chooses another build directory (default build/gallery-bench);
# BENCH_ROUNDS the number of rounds (default 5). Installs nothing: scripts/deps.sh build
# bench installs what it needs.
set -euo pipefail
cd "$(dirname "$0")/.."
repo=$(pwd)

# shellcheck source=bench-common.sh
source scripts/bench-common.sh
bench_require bench-gallery.sh curl cmake ninja

build_dir=${BENCH_BUILD_DIR:-build/gallery-bench}
rounds=${BENCH_ROUNDS:-5}

bench_build "$build_dir" gallery_bench
bench="$repo/$build_dir/bench/gallery/gallery_bench"
case "$build_dir" in /*) bench="$build_dir/bench/gallery/gallery_bench" ;; esac

bench_start_peers bench-gallery.sh
docroot="$FETCHORA_PEERS_ROOT/www/gallery"
base_url="http://127.0.0.1:$FETCHORA_NGINX_PORT/gallery"

echo "==> Generating 1,000 files in $docroot"
"$bench" generate "$docroot"
chmod -R a+rX "$docroot"
if ! curl -sf -o /dev/null -I "$base_url/f0000.bin"; then
    echo "bench-gallery.sh: nginx does not serve $base_url/f0000.bin" >&2
    exit 1
fi

echo "==> Running $rounds rounds"
echo "    load average before: $(cut -d' ' -f1-3 /proc/loadavg)"
status=0
"$bench" compare "$base_url" "$work" "$rounds" || status=$?
echo "    load average after: $(cut -d' ' -f1-3 /proc/loadavg)"
exit $status
