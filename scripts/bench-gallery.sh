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

missing=()
for tool in curl cmake ninja; do
    command -v "$tool" >/dev/null 2>&1 || missing+=("$tool")
done
if ! command -v nginx >/dev/null 2>&1 && [ ! -x /usr/sbin/nginx ]; then
    missing+=(nginx)
fi
if [ ${#missing[@]} -ne 0 ]; then
    echo "bench-gallery.sh: missing ${missing[*]}; scripts/deps.sh build bench installs them" >&2
    exit 1
fi

build_dir=${BENCH_BUILD_DIR:-build/gallery-bench}
rounds=${BENCH_ROUNDS:-5}

echo "==> Building gallery_bench ($build_dir)"
cmake --preset bench -B "$build_dir" >/dev/null
cmake --build "$build_dir" -j2 --target gallery_bench
bench="$repo/$build_dir/bench/gallery/gallery_bench"
case "$build_dir" in /*) bench="$build_dir/bench/gallery/gallery_bench" ;; esac

work=$(mktemp -d "${TMPDIR:-/tmp}/fetchora-gallery-bench.XXXXXX")
cleanup() {
    # shellcheck source=../tests/support/peers/stop.sh
    source "$repo/tests/support/peers/stop.sh" "$work/peers" || true
    rm -rf "$work"
}
trap cleanup EXIT

# shellcheck source=../tests/support/peers/start.sh
source "$repo/tests/support/peers/start.sh" "$work/peers"
if [ -z "${FETCHORA_NGINX_PORT:-}" ] || [ -z "${FETCHORA_PEERS_ROOT:-}" ]; then
    echo "bench-gallery.sh: nginx did not start (see above)" >&2
    exit 1
fi
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
