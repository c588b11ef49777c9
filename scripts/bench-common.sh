# Sourced by the benchmark scripts that need nginx: the check of the tools they run, the
# build of their program with the "bench" preset, and nginx on a free loopback port with
# everything inside one temporary folder that goes when the script ends.
#   bench_require NAME TOOL...      exits when a tool or nginx is missing
#   bench_build DIR TARGET...       builds the targets in DIR (relative to the repository)
#   bench_start_peers NAME          sets work (the folder) and starts nginx in it; after it
#                                   FETCHORA_NGINX_PORT and FETCHORA_PEERS_ROOT are set
# The caller has cd'ed to the repository and set repo=$(pwd).

bench_require() {
    local name=$1
    shift
    local missing=()
    for tool in "$@"; do
        command -v "$tool" >/dev/null 2>&1 || missing+=("$tool")
    done
    if ! command -v nginx >/dev/null 2>&1 && [ ! -x /usr/sbin/nginx ]; then
        missing+=(nginx)
    fi
    if [ ${#missing[@]} -ne 0 ]; then
        echo "$name: missing ${missing[*]}; scripts/deps.sh build bench installs them" >&2
        exit 1
    fi
}

bench_build() {
    local dir=$1
    shift
    echo "==> Building $* ($dir)"
    cmake --preset bench -B "$dir" >/dev/null
    cmake --build "$dir" -j2 --target "$@"
}

bench_cleanup() {
    # shellcheck source=../tests/support/peers/stop.sh
    source "$repo/tests/support/peers/stop.sh" "$work/peers" || true
    rm -rf "$work"
}

bench_start_peers() {
    local name=$1
    work=$(mktemp -d "${TMPDIR:-/tmp}/fetchora-$name.XXXXXX")
    trap bench_cleanup EXIT
    # nginx (and tinyproxy, unused here) on free loopback ports, everything inside $work.
    # shellcheck source=../tests/support/peers/start.sh
    source "$repo/tests/support/peers/start.sh" "$work/peers"
    if [ -z "${FETCHORA_NGINX_PORT:-}" ] || [ -z "${FETCHORA_PEERS_ROOT:-}" ]; then
        echo "$name: nginx did not start (see above)" >&2
        exit 1
    fi
}
