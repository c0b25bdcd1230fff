#!/usr/bin/env bash
# Under a real window manager (openbox inside Xvfb), starts and closes the program five times as a
# person would (Alt+F4). The stored Position is the window's outer frame: it must survive every
# cycle unchanged, and each start must put the window back exactly where the last one closed it.
set -u
here=$(cd "$(dirname "$0")/.." && pwd)
source "$here/tools/isolated_run.sh"
seed_admin_login
# A window placed away from the screen's edges, so a frame counted twice or not at all shows.
seeded=150,100,900,700
hive_set "$user_hive" 'Software\Quelvard' Position "$seeded"
start_x
start_openbox

stored_position() {
    stored "$user_hive" 'Software\Quelvard' Position
}
# The client area and the outer frame (client plus the manager's frame extents), each as
# left,top,width,height. xwininfo, not xdotool: the xdotool of Debian 12 counts a framed window's
# offset inside its frame twice.
measure() {
    local info x y w h extents l r t b
    info=$(xwininfo -id "$1") || return 1
    x=$(sed -n 's/.*Absolute upper-left X: *//p' <<<"$info")
    y=$(sed -n 's/.*Absolute upper-left Y: *//p' <<<"$info")
    w=$(sed -n 's/.*Width: *//p' <<<"$info")
    h=$(sed -n 's/.*Height: *//p' <<<"$info")
    extents=$(xprop -id "$1" _NET_FRAME_EXTENTS | sed -n 's/.*= *//p' | tr -d ' ')
    IFS=, read -r l r t b <<<"${extents:-0,0,0,0}"
    echo "$x,$y,$w,$h $((x - l)),$((y - t)),$((w + l + r)),$((h + t + b))"
}

failed=0
last_closed=
for cycle in 1 2 3 4 5; do
    before=$(stored_position)
    "$program" >"$work/program-$cycle.log" 2>&1 &
    pid=$!
    window=$(find_window '^Quelvard - ') || {
        echo "cycle $cycle: no main window appeared"; cat "$work/program-$cycle.log"; kill "$pid"; exit 1; }
    # Settled: the same geometry for a whole second (the frame may come a moment after the map).
    shown=$(measure "$window"); steady=0
    for _ in $(seq 1 100); do
        sleep 0.1
        now=$(measure "$window")
        if [ "$now" = "$shown" ]; then
            steady=$((steady + 1)); [ $steady -ge 10 ] && break
        else
            shown=$now; steady=0
        fi
    done
    client=${shown% *} outer=${shown#* }
    echo "cycle $cycle: stored $before, shown with client $client, frame $outer"
    if [ "$outer" != "$before" ]; then
        echo "  the window's frame is not where the stored Position puts it"; failed=1
    fi
    if [ -n "$last_closed" ] && [ "$client" != "$last_closed" ]; then
        echo "  the window did not come back where it was closed ($last_closed)"; failed=1
    fi
    last_closed=$(measure "$window"); last_closed=${last_closed% *}
    xdotool windowactivate --sync "$window" 2>/dev/null
    xdotool key --clearmodifiers alt+F4
    ended || { echo "cycle $cycle: the program did not end on Alt+F4"; kill "$pid"; exit 1; }
    after=$(stored_position)
    echo "cycle $cycle: closed at client $last_closed, stored $after"
    if [ "$after" != "$seeded" ]; then
        echo "  the stored Position changed from $seeded"; failed=1
    fi
done
[ $failed -eq 0 ] || { echo "smoke test failed"; exit 1; }
echo "smoke test passed"
