#!/usr/bin/env bash
# Builds the queue benchmark with the "bench" preset and runs it: save (with its duplicate
# removal), load, removal of every entry from the head, a run's reload, and the queue
# editor's deletion and move of every other entry, on a queue of 100,000 entries, each
# timed in seven rounds against 100 ms. Prints the median with the
# fastest and slowest round; the exit status is 0 when every target is met, 1 when one is
# missed. Needs no server. BENCH_BUILD_DIR chooses another build directory (default
# build/bench).
set -euo pipefail
cd "$(dirname "$0")/.."
repo=$(pwd)

# shellcheck source=bench-common.sh
source scripts/bench-common.sh
for tool in cmake ninja; do
    command -v "$tool" >/dev/null 2>&1 || {
        echo "bench-queue.sh: missing $tool; scripts/deps.sh build bench installs it" >&2
        exit 1
    }
done

build_dir=${BENCH_BUILD_DIR:-build/bench}
bench_build "$build_dir" queue_bench
bench="$repo/$build_dir/bench/queue/queue_bench"
case "$build_dir" in /*) bench="$build_dir/bench/queue/queue_bench" ;; esac

echo "==> Running queue_bench (load average $(cut -d' ' -f1-3 /proc/loadavg))"
"$bench"
