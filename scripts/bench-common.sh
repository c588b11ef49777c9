# Sourced by the benchmark scripts that need nginx: the check of the tools they run, the
# build of their program with the "bench" preset, and nginx on a free loopback port with
# everything inside one temporary folder that goes when the script ends.
#   bench_require NAME TOOL...      exits when a tool or nginx is missing
#   bench_build DIR TARGET...       builds the targets in DIR (relative to the repository)
#   bench_start_peers NAME          sets work (the folder) and starts nginx in it; after it
#                                   FETCHORA_NGINX_PORT and FETCHORA_PEERS_ROOT are set
#   bench_scratch_fs DIR SIZE       makes DIR a new file system of its own (see there)
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

bench_scratch_mounts=()

# Makes DIR a new ext4 file system of SIZE on a loop device when the script runs as root
# and the machine has loop devices, else an ordinary folder; says which. On a disk that
# other work used a moment ago the runs would measure that work too: ext4 passes over
# the inodes freed in the last minutes when it makes a file, so a folder of thousands of
# files deleted before a run makes every file of the run slower, on both sides.
bench_scratch_fs() {
    local dir=$1 size=$2
    mkdir -p "$dir"
    if [ "$(id -u)" = 0 ] && command -v mkfs.ext4 >/dev/null 2>&1 &&
        truncate -s "$size" "$dir.img" && mkfs.ext4 -q -F "$dir.img" >/dev/null 2>&1 &&
        mount -o loop "$dir.img" "$dir" 2>/dev/null; then
        bench_scratch_mounts+=("$dir")
        echo "    $dir: a new ext4 file system of its own ($size)"
    else
        rm -f "$dir.img"
        echo "    $dir: a folder on $(df --output=target "$dir" | tail -1 | tr -d ' ')" \
            "(a file system of its own needs root and loop devices)"
    fi
}

bench_cleanup() {
    local mount
    for mount in "${bench_scratch_mounts[@]}"; do
        umount "$mount" 2>/dev/null || umount -l "$mount" || true
    done
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
