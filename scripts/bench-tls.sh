#!/usr/bin/env bash
# The https benchmark: builds tls_bench with the "bench" preset, starts nginx with TLS on
# loopback under a certificate authority made for the run (scripts/peers.sh), and times
#   big:   one 256 MB file, tls_bench get against `curl -s -o FILE`, with the peak
#          memory of the fetchora side (/usr/bin/time: maximum resident set size);
#   small: 1,000 files of 1 to 50 KB, tls_bench list against
#          `wget -q --no-http-keep-alive -i LIST`.
# Each case runs in pairs whose sides take turns to go first (A B, B A, ...); the figure is
# the median of the pairs' own ratios (fetchora time / reference time), printed with their
# spread. Targets: big at most 1.1 and under 64 MB, small at most 1.5.
# usage: scripts/bench-tls.sh; BENCH_BUILD_DIR (default build/bench), BENCH_ROUNDS pairs
# per case (default 3), BENCH_SIZE_MB the big file's size (default 256).
# Exit status: 0 when every target was met, 3 when one was missed, 1 when a run failed or
# a file differs. Installs nothing: scripts/deps.sh build bench installs what it needs.
set -euo pipefail
cd "$(dirname "$0")/.."
repo=$(pwd)

# shellcheck source=bench-common.sh
source scripts/bench-common.sh
# shellcheck source=peers.sh
source scripts/peers.sh
bench_require bench-tls.sh wget curl cmake ninja openssl /usr/bin/time

build_dir=${BENCH_BUILD_DIR:-build/bench}
rounds=${BENCH_ROUNDS:-3}
size_mb=${BENCH_SIZE_MB:-256}
bench_build "$build_dir" tls_bench
tls_bench="$repo/$build_dir/bench/tls/tls_bench"
case "$build_dir" in /*) tls_bench="$build_dir/bench/tls/tls_bench" ;; esac

bench_start_peers bench-tls.sh
start_tls_peers "$work/peers"
trap 'stop_tls_peers "$work/peers"; bench_cleanup' EXIT
if [ -z "${FETCHORA_TLS_PORT:-}" ]; then
    echo "bench-tls.sh: nginx with TLS did not start (see above)" >&2
    exit 1
fi
ca=$FETCHORA_TLS_CA_FILE
export SSL_CERT_FILE=$ca
base="https://127.0.0.1:$FETCHORA_TLS_PORT/tlsbench"
docroot="$FETCHORA_PEERS_ROOT/www/tlsbench"

echo "==> Generating one ${size_mb} MB file and 1,000 small files in $docroot"
mkdir -p "$docroot/small"
head -c "$((size_mb * 1024 * 1024))" /dev/urandom >"$docroot/big.bin"
: >"$work/list.txt"
for i in $(seq -w 1 1000); do
    head -c "$(((10#$i * 7919) % 50000 + 1024))" /dev/urandom >"$docroot/small/s$i.bin"
    echo "$base/small/s$i.bin" >>"$work/list.txt"
done
chmod -R a+rX "$docroot"
echo "    load average before: $(cut -d' ' -f1-3 /proc/loadavg)"

# measure NAME COMMAND...: runs the command under /usr/bin/time; sets secs and kb.
measure() {
    local name=$1
    shift
    sync
    if ! /usr/bin/time -f "%e %M" -o "$work/time.txt" "$@"; then
        echo "bench-tls.sh: $name failed" >&2
        exit 1
    fi
    read -r secs kb <"$work/time.txt"
}

# Prints the median and the spread of the ratios given as arguments.
summary() {
    printf '%s\n' "$@" | sort -g | awk '{ r[NR] = $1 } END {
        m = (NR % 2) ? r[(NR + 1) / 2] : (r[NR / 2] + r[NR / 2 + 1]) / 2
        printf "%.3f %.3f %.3f\n", m, r[1], r[NR] }'
}

status=0
big_ratios=()
peak_max=0
echo "==> big: $rounds pairs, tls_bench get against curl"
for round in $(seq 1 "$rounds"); do
    sides=(fetchora curl)
    [ $((round % 2)) = 0 ] && sides=(curl fetchora)
    for side in "${sides[@]}"; do
        rm -f "$work/big.out"
        if [ "$side" = fetchora ]; then
            measure fetchora "$tls_bench" get "$base/big.bin" "$work/big.out"
            f_secs=$secs
            [ "$kb" -gt "$peak_max" ] && peak_max=$kb
        else
            measure curl curl -s --cacert "$ca" -o "$work/big.out" "$base/big.bin"
            c_secs=$secs
        fi
        cmp -s "$work/big.out" "$docroot/big.bin" || { echo "bench-tls.sh: $side's file differs" >&2; exit 1; }
    done
    ratio=$(awk -v a="$f_secs" -v b="$c_secs" 'BEGIN { printf "%.3f", a / b }')
    echo "    pair $round: fetchora ${f_secs}s, curl ${c_secs}s, ratio $ratio"
    big_ratios+=("$ratio")
done
read -r big_median big_low big_high < <(summary "${big_ratios[@]}")
peak_mb=$(awk -v k="$peak_max" 'BEGIN { printf "%.1f", k / 1024 }')
echo "    big: median ratio $big_median (spread $big_low to $big_high), target 1.1;" \
    "fetchora peak memory $peak_mb MB, target under 64 MB"
awk -v m="$big_median" 'BEGIN { exit !(m <= 1.1) }' || status=3
[ "$peak_max" -lt $((64 * 1024)) ] || status=3

small_ratios=()
echo "==> small: $rounds pairs of 1,000 files, tls_bench list against wget --no-http-keep-alive"
for round in $(seq 1 "$rounds"); do
    sides=(fetchora wget)
    [ $((round % 2)) = 0 ] && sides=(wget fetchora)
    for side in "${sides[@]}"; do
        rm -rf "$work/small.out"
        mkdir -p "$work/small.out"
        if [ "$side" = fetchora ]; then
            measure fetchora "$tls_bench" list "$work/list.txt" "$work/small.out"
            f_secs=$secs
        else
            measure wget wget -q --no-http-keep-alive --ca-certificate="$ca" -i "$work/list.txt" \
                -P "$work/small.out"
            c_secs=$secs
        fi
        diff -rq "$work/small.out" "$docroot/small" >/dev/null || { echo "bench-tls.sh: $side's files differ" >&2; exit 1; }
    done
    ratio=$(awk -v a="$f_secs" -v b="$c_secs" 'BEGIN { printf "%.3f", a / b }')
    echo "    pair $round: fetchora ${f_secs}s, wget ${c_secs}s, ratio $ratio"
    small_ratios+=("$ratio")
done
read -r small_median small_low small_high < <(summary "${small_ratios[@]}")
echo "    small: median ratio $small_median (spread $small_low to $small_high), target 1.5"
awk -v m="$small_median" 'BEGIN { exit !(m <= 1.5) }' || status=3

echo "    load average after: $(cut -d' ' -f1-3 /proc/loadavg)"
[ $status = 0 ] && echo "==> every target met" || echo "==> a target was missed"
exit $status
