#!/usr/bin/env bash
# A real drag between processes on an X server: a link dragged out of another program
# (text/uri-list and text/plain, as a browser drags it) and dropped on the toolbar of a
# running fetchora's band is probed on nginx and lands in the queue file next to the band
# library.
#
#     drag_between_processes_test.sh FETCHORA DRAG_SOURCE SOURCE_DIR FETCHORA_SO
#
# Exits 77 (skipped) when Xvfb, xdotool, nginx or Qt's xcb platform are missing.
# Logs of every program are printed when it fails.
set -u

fetchora_bin=$1
drag_source_bin=$2
source_dir=$3
band_library=$4

# shellcheck source=/dev/null
source "$source_dir/tests/support/x_session.sh" drag
head -c 4321 /dev/urandom >"$FETCHORA_PEERS_ROOT/www/dragged.zip"
chmod a+r "$FETCHORA_PEERS_ROOT/www/dragged.zip"
link="http://127.0.0.1:$FETCHORA_NGINX_PORT/dragged.zip"

# The band keeps its queue next to its library, which the program registers on its first
# start; settings and registry in the folder too.
use_band_library "$band_library"
cp "$fetchora_bin" "$work/app/fetchora"

start_xvfb 1280x800x24

# Waits (at most $1 seconds) for a window whose name matches $2 and prints its id.
window_of() {
    timeout "$1" xdotool search --sync --onlyvisible --name "$2" 2>/dev/null | head -n 1
}

"$work/app/fetchora" --report "$work/report.txt" >"$work/fetchora.log" 2>&1 &
pids+=($!)
toolbar=$(window_of 120 '^Fetchora$') || true
if [ -z "$toolbar" ] && grep -q 'platform plugin "xcb"' "$work/fetchora.log"; then
    skip "Qt's xcb platform does not start (scripts/deps.sh test installs qt6-qpa-plugins)"
fi
[ -n "$toolbar" ] || fail "the fetchora window did not show"

"$drag_source_bin" "$link" >"$work/drag_source.log" 2>&1 &
pids+=($!)
source_window=$(window_of 120 '^Fetchora drag source$') || true
[ -n "$source_window" ] || fail "the drag source did not show"

# Without a window manager the windows stay where they are put.
xdotool windowmove --sync "$source_window" 0 0
xdotool windowmove --sync "$toolbar" 0 300
# The queue file exists once the toolbar has started.
for _ in $(seq 1 300); do
    [ -f "$work/app/downloads.txt" ] && break
    sleep 0.1
done
[ -f "$work/app/downloads.txt" ] || fail "fetchora did not create its queue file"

# Where the band's status field is in the browser window.
for _ in $(seq 1 300); do
    grep -q "^band control Panel " "$work/report.txt" 2>/dev/null && break
    sleep 0.1
done
read -r _ window_x window_y _ _ <<<"$(grep '^window ' "$work/report.txt" | tail -n 1)"
read -r _ _ _ panel_x panel_y _ _ <<<"$(grep '^band control Panel ' "$work/report.txt" | tail -n 1)"
[ -n "${panel_y:-}" ] || fail "the band is not docked"
target_x=$((panel_x - window_x + 40))
target_y=$((300 + panel_y - window_y + 10))
echo "dropping at $target_x $target_y (window $window_x $window_y, status field $panel_x $panel_y)"

# Press on the source, move in steps onto the toolbar's status field, release.
xdotool mousemove --sync 80 40
xdotool mousedown 1
for step in $(seq 1 15); do
    xdotool mousemove --sync $((80 + step * 20)) $((40 + step * 18))
    sleep 0.05
done
xdotool mousemove --sync "$target_x" "$target_y"
sleep 0.3
xdotool mousemove --sync $((target_x + 2)) $((target_y + 1))
sleep 0.3
xdotool mouseup 1

for _ in $(seq 1 600); do
    grep -q "dragged.zip" "$work/app/downloads.txt" 2>/dev/null && break
    sleep 0.1
done
grep -q "^$link	dragged.zip	0	4321" "$work/app/downloads.txt" ||
    fail "the link is not in the queue: $(cat "$work/app/downloads.txt")"
echo "queued: $(cat "$work/app/downloads.txt")"
exit 0
