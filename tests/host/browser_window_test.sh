#!/usr/bin/env bash
# The browser window with the real band on an X server of its own, driven as a person
# would with xdotool: on its first start the program registers the band library beside
# it and docks the band; a link dragged out of the page onto the band is queued; a second
# window's band sees the first one's queue and the other way round; Select files opens the
# gallery for the page shown; Help shows the help page in the window; "fetchora --add"
# queues into the band's queue; closing the windows ends the program cleanly.
#
#     browser_window_test.sh FETCHORA FETCHORA_SO SOURCE_DIR
#
# Exits 77 (skipped) when Xvfb, xdotool, nginx or Qt's xcb platform are missing.
set -u

fetchora_bin=$1
band_library=$2
source_dir=$3

# shellcheck source=/dev/null
source "$source_dir/tests/support/x_session.sh" browser
server="http://127.0.0.1:$FETCHORA_NGINX_PORT"
www="$FETCHORA_PEERS_ROOT/www"
for name in first second third fourth; do
    head -c 2345 /dev/urandom >"$www/$name-host.zip"
done
page="$server/host-page.html"
cat >"$www/host-page.html" <<'PAGE'
<html><head><title>Band test page</title></head>
<body style="margin:0; font: 40px sans-serif">
<a href="first-host.zip" style="position:absolute; left:10px; top:10px">first-host.zip</a>
<a href="second-host.zip" style="position:absolute; left:10px; top:110px">second-host.zip</a>
<a href="third-host.zip" style="position:absolute; left:10px; top:210px">third-host.zip</a>
</body></html>
PAGE
chmod -R a+rX "$www"

# The program and its band library in a folder of the test's own, so the queue file is
# the test's; settings and registry in the folder too. Nothing is registered yet.
use_band_library "$band_library"
cp "$fetchora_bin" "$work/app/fetchora"
queue="$work/app/downloads.txt"
report="$work/report.txt"

start_xvfb 2200x900x24

# Waits (at most $1 seconds) until the report has $2 lines matching $3.
wait_report() {
    for _ in $(seq 1 $(($1 * 10))); do
        [ "$(grep -c -- "$3" "$report" 2>/dev/null)" -ge "$2" ] && return 0
        sleep 0.1
    done
    return 1
}
# The last reported "x y w h" of $1 ("band control Panel", "view", "window").
geometry() {
    grep "^$1 " "$report" | tail -n 1 | awk '{print $(NF-3), $(NF-2), $(NF-1), $NF}'
}
# Presses on the screen point $1 $2, moves in steps to $3 $4 and lets go.
drag() {
    xdotool mousemove --sync "$1" "$2"
    xdotool mousedown 1
    for step in $(seq 1 12); do
        xdotool mousemove --sync $(($1 + ($3 - $1) * step / 12)) $(($2 + ($4 - $2) * step / 12))
        sleep 0.05
    done
    sleep 0.3
    xdotool mousemove --sync $(($3 + 2)) $(($4 + 1))
    sleep 0.3
    xdotool mouseup 1
}
# Drags the link at height $1 of the page onto the band's status field, with the page
# view at $2 $3 and the status field at $4 $5 (its top left corner).
drag_link() {
    drag $(($2 + 60)) $(($3 + $1 + 25)) $(($4 + 100)) $(($5 + 10))
}
queued() {
    for _ in $(seq 1 150); do
        grep -q "^$server/$1	$1	0	2345" "$queue" 2>/dev/null && return 0
        sleep 0.1
    done
    return 1
}

"$work/app/fetchora" --report "$report" "$page" >"$work/fetchora.log" 2>&1 &
pids+=($!)
if ! wait_report 40 1 "^page loaded $page"; then
    grep -q 'platform plugin "xcb"' "$work/fetchora.log" &&
        skip "Qt's xcb platform does not start (scripts/deps.sh test installs qt6-qpa-plugins)"
    grep -q "No usable sandbox" "$work/fetchora.log" &&
        skip "Chromium's sandbox cannot start for this user here (user namespaces are off)"
    fail "the browser did not show the page"
fi
grep -q "registered the toolbar band $work/app/Fetchora.so" "$work/fetchora.log" ||
    fail "the band library beside the program was not registered on the first start"
grep -q "^bands 1$" "$report" || fail "the band is not docked"
[ -f "$queue" ] || fail "the band did not create its queue file beside its library"

# A link dragged out of the page onto the band is queued.
read -r view_x view_y _ _ <<<"$(geometry view)"
read -r panel_x panel_y _ _ <<<"$(geometry "band control Panel")"
drag_link 10 "$view_x" "$view_y" "$panel_x" "$panel_y"
queued first-host.zip || fail "the link dragged onto the band is not in the queue: $(cat "$queue")"

# A second window with a band of its own, moved beside the first.
first_window=$(xdotool search --onlyvisible --name '^Band test page$' | head -n 1)
[ -n "$first_window" ] || fail "no browser window"
xdotool windowactivate --sync "$first_window" 2>/dev/null || xdotool windowfocus --sync "$first_window"
xdotool key --window "$first_window" ctrl+n
wait_report 30 1 "^window opened" || fail "New Window opened no window"
wait_report 30 2 "^page loaded $page" || fail "the new window did not show the page"
[ "$(grep -c '^bands 1$' "$report")" -ge 2 ] || fail "the new window has no band"
second_window=$(xdotool search --onlyvisible --name '^Band test page$' | grep -v "^$first_window$" | head -n 1)
[ -n "$second_window" ] || fail "the new window cannot be found"
read -r window_x window_y _ _ <<<"$(geometry window)"
xdotool windowmove --sync "$second_window" 1100 0
sleep 0.5
dx=$((1100 - window_x))
dy=$((0 - window_y))
read -r view2_x view2_y _ _ <<<"$(geometry view)"
read -r panel2_x panel2_y _ _ <<<"$(geometry "band control Panel")"
drag_link 110 $((view2_x + dx)) $((view2_y + dy)) $((panel2_x + dx)) $((panel2_y + dy))
queued second-host.zip || fail "the link dropped on the second window is not queued: $(cat "$queue")"
queued first-host.zip || fail "the second window lost the first window's entry: $(cat "$queue")"

# The first window reloads the queue within two seconds; its next drop keeps the
# second window's entry.
sleep 3
drag_link 210 "$view_x" "$view_y" "$panel_x" "$panel_y"
queued third-host.zip || fail "the third link is not queued: $(cat "$queue")"
queued second-host.zip || fail "the first window dropped the second window's entry: $(cat "$queue")"

# "fetchora --add" queues into the same queue, beside the registered band library.
"$work/app/fetchora" --add "$server/fourth-host.zip" >"$work/add.log" 2>&1 || fail "fetchora --add failed"
queued fourth-host.zip || fail "fetchora --add did not queue beside the band library: $(cat "$queue")"

# Select files opens the gallery for the page shown.
read -r button_x button_y button_w button_h <<<"$(grep '^band control ToolButton9 ' "$report" | head -n 1 | awk '{print $4, $5, $6, $7}')"
xdotool mousemove --sync $((button_x + button_w / 2)) $((button_y + button_h / 2)) click 1
gallery=$(timeout 30 xdotool search --sync --onlyvisible --name "^$page\$" 2>/dev/null | head -n 1)
[ -n "$gallery" ] || fail "Select files did not open the gallery for $page"
xdotool key --window "$gallery" Escape
for _ in $(seq 1 50); do
    xdotool search --onlyvisible --name "^$page\$" >/dev/null 2>&1 || break
    sleep 0.1
done

# Help shows the band's help page in the browser window.
read -r help_x help_y help_w help_h <<<"$(grep '^band control HelpBtn ' "$report" | head -n 1 | awk '{print $4, $5, $6, $7}')"
xdotool mousemove --sync $((help_x + help_w / 2)) $((help_y + help_h / 2)) click 1
wait_report 20 1 "^page loaded file://.*/help/index.html$" || fail "Help did not show the help page"
# Closing both windows closes and releases their bands: the program ends cleanly with no
# band library still in use.
fetchora_pid=${pids[1]}
for window in "$second_window" "$first_window"; do
    xdotool windowfocus --sync "$window" 2>/dev/null
    xdotool key ctrl+w 2>/dev/null
    sleep 0.5
done
for _ in $(seq 1 100); do
    kill -0 "$fetchora_pid" 2>/dev/null || break
    sleep 0.1
done
kill -0 "$fetchora_pid" 2>/dev/null && fail "the program did not end after its last window closed"
wait "$fetchora_pid"
status=$?
[ "$status" -eq 0 ] || fail "the program ended with status $status"
grep -q "still in use" "$work/fetchora.log" && fail "a band library was left in use"
echo "queue: $(tr '\r\n' '  ' <"$queue")"
exit 0
