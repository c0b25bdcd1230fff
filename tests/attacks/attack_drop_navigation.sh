#!/usr/bin/env bash
# A URL dragged from another program and dropped onto a page does not navigate a locked
# browser. The drag is real X input from a window of another process; the same drag dropped
# into the page's text box inserts its text, which shows that drops do reach the page.
source "$(dirname "$0")/session.sh"
page drop.html 'Drop attacks' "<textarea class=box style='left:0;top:0;width:300px;height:150px'
  oninput=\"beacon('inserted-' + encodeURIComponent(this.value))\"></textarea>"
page dropped.html 'Dropped address' ''
seed_home_page "$base/drop.html"
start_browser 'Drop attacks'

"$drag_source" "$base/dropped.html" 1110 40 >"$work/drag.log" 2>&1 &
source_pid=$!
for _ in $(seq 1 100); do
    source_window=$(xdotool search --onlyvisible --pid "$source_pid" 2>/dev/null | head -n 1)
    [ -n "$source_window" ] && break
    sleep 0.1
done
[ -n "$source_window" ] || { fail "the drag source did not show"; conclude; }

drag_to() { # page X, page Y
    local tx=$((page_x + $1)) ty=$((page_y + $2)) i
    xdotool mousemove 1190 100 mousedown 1
    for i in $(seq 1 20); do
        xdotool mousemove $((1190 + (tx - 1190) * i / 20)) $((100 + (ty - 100) * i / 20))
        sleep 0.05
    done
    sleep 0.3
    xdotool mousemove $((tx + 2)) $((ty + 2))
    sleep 0.3
    xdotool mouseup 1
}
drag_to 500 400 # onto the page itself
barrier || fail "after the drop the page did not report the pointer"
drag_to 150 75  # into the text box
# The text box's report comes after the first drop was handled, and the round trip after both.
wait_request '^/beacon\?inserted-http' \
    || fail "the drop into the text box inserted nothing, so the drag never reached the page"
barrier || fail "after the drops the page did not report the pointer"
kill "$source_pid"
if requested '^/dropped' || [[ $(caption) == *Dropped* ]]; then
    fail "a dropped address was followed"
else
    pass "the dropped address was not followed"
fi
conclude
