# What the tests that drive programs on an X server of their own share: skip and fail
# with the logs, a work folder that goes at exit with every program started (append its
# pid to pids), the peers of the test run or nginx started for this test alone, the band
# library's own folder and the X server.
#
#     source x_session.sh NAME   (source_dir must be set; sets work and pids)

skip() {
    echo "SKIPPED: $*"
    exit 77
}
fail() {
    echo "FAILED: $*"
    for log in "$work"/*.log "$work/report.txt"; do
        [ -f "$log" ] && { echo "--- $log"; tail -n 25 "$log"; }
    done
    exit 1
}

command -v Xvfb >/dev/null 2>&1 || skip "Xvfb is not installed (scripts/deps.sh test)"
command -v xdotool >/dev/null 2>&1 || skip "xdotool is not installed (scripts/deps.sh test)"

work=$(mktemp -d "/tmp/fetchora-$1.XXXXXX")
pids=()
own_peers=""
cleanup() {
    for pid in "${pids[@]}"; do
        kill "$pid" 2>/dev/null
    done
    for pid in "${pids[@]}"; do
        wait "$pid" 2>/dev/null
    done
    if [ -n "$own_peers" ]; then
        # shellcheck source=/dev/null
        source "$source_dir/tests/support/peers/stop.sh" "$own_peers" >/dev/null 2>&1
    fi
    rm -rf "$work"
}
trap cleanup EXIT

# The peers of the test run, or our own.
if [ -z "${FETCHORA_NGINX_PORT:-}" ]; then
    command -v nginx >/dev/null 2>&1 || [ -x /usr/sbin/nginx ] || skip "nginx is not installed"
    own_peers="$work/peers"
    # shellcheck source=/dev/null
    source "$source_dir/tests/support/peers/start.sh" "$own_peers" >"$work/peers.log" 2>&1
    [ -n "${FETCHORA_NGINX_PORT:-}" ] || skip "nginx did not start: $(tail -n 3 "$work/peers.log")"
fi

# Copies the band library ($1) and its help page into $work/app, where the band keeps its
# queue, and gives the programs a home and settings of their own on X.
use_band_library() {
    mkdir -p "$work/app" "$work/home" "$work/config"
    cp "$1" "$work/app/Fetchora.so"
    cp -r "$(dirname "$1")/help" "$work/app/help"
    export HOME="$work/home" XDG_CONFIG_HOME="$work/config" QT_QPA_PLATFORM=xcb
    unset WAYLAND_DISPLAY
}

# Starts our own X server with a screen of $1 (WIDTHxHEIGHTxDEPTH) on the first free
# display, which it writes to fd 3, and exports DISPLAY.
start_xvfb() {
    exec 3>"$work/display"
    Xvfb -displayfd 3 -screen 0 "$1" -nolisten tcp >"$work/xvfb.log" 2>&1 &
    pids+=($!)
    exec 3>&-
    for _ in $(seq 1 100); do
        [ -s "$work/display" ] && break
        sleep 0.1
    done
    [ -s "$work/display" ] || fail "Xvfb did not start"
    export DISPLAY=":$(head -n 1 "$work/display")"
}
