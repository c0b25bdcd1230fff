#!/usr/bin/env bash
# A kiosk (the machine's Window setting full-screen), locked, under a real window manager
# (openbox inside Xvfb): whatever the manager offers a person for taking the window off the
# screen (show desktop, another desktop, minimise) leaves the desktop bare for no longer than it
# takes the window to hear of it, and the window is on every desktop.
set -u
here=$(cd "$(dirname "$0")/.." && pwd)
source "$here/tools/isolated_run.sh"
seed_admin_login
hive_set "$machine_hive" 'Software\Quelvard\Policies' Window full-screen
start_x
start_openbox
spies=()
finish() {
    for spy in "${spies[@]}"; do kill "$spy" 2>/dev/null; done
    [ -n "${pid:-}" ] && kill "$pid" 2>/dev/null && wait "$pid" 2>/dev/null
    end_isolated_run
}
trap finish EXIT

failed=0
fail() { echo "FAIL: $*"; failed=1; }

# until SECONDS COMMAND...: true once the command succeeds, polled within the time given.
until_true() {
    local tries=$(($1 * 10)); shift
    for _ in $(seq 1 "$tries"); do
        "$@" && return 0
        sleep 0.1
    done
    return 1
}
viewable() { xwininfo -id "$window" 2>/dev/null | grep -q 'Map State: IsViewable'; }
property() { xprop "$@" 2>/dev/null | sed -n 's/^[^=]*= *//p'; }
full_screen_and_shown() {
    viewable && property -id "$window" _NET_WM_STATE | grep -q _NET_WM_STATE_FULLSCREEN
}
on_every_desktop() { [ "$(property -id "$window" _NET_WM_DESKTOP)" = 4294967295 ]; }
current_desktop_is() { [ "$(property -root _NET_CURRENT_DESKTOP)" = "$1" ]; }
# spy NAME XPROP-ARGUMENTS...: every change of a property, logged to $work/NAME from now on.
spy() {
    local name=$1; shift
    xprop -spy "$@" >"$work/$name" 2>/dev/null &
    spies+=($!)
}
logged() { grep -q "$2" "$work/$1"; }

"$program" >"$work/program.log" 2>&1 &
pid=$!
window=$(find_window '^Quelvard - ') || {
    echo "no main window appeared"; cat "$work/program.log"; exit 1; }
until_true 20 viewable || { echo "the kiosk window is not shown"; cat "$work/program.log"; exit 1; }
until_true 10 full_screen_and_shown || fail "the window manager does not hold the window full screen"
echo "shown: window $window"

# Show desktop (Super+D in openbox's own key bindings) hides every window.
spy showing -root _NET_SHOWING_DESKTOP
until_true 5 logged showing '= 0' || { echo "cannot watch the desktop"; exit 1; }
# On a loaded machine a key sent before the window manager has taken it can be lost; it is sent
# again every two seconds, five times at most.
shown_desktop() {
    local attempt
    for attempt in 1 2 3 4 5; do
        xdotool key super+d
        until_true 2 logged showing '= 1' && return 0
    done
    return 1
}
if ! shown_desktop; then
    fail "Super+D did not show the desktop (openbox's key bindings?)"
elif until_true 10 full_screen_and_shown && until_true 5 current_desktop_is 0 &&
        [ "$(property -root _NET_SHOWING_DESKTOP)" = 0 ]; then
    echo "ok: show desktop: the window came back"
else
    fail "show desktop left the screen to the window manager"
fi

# Another desktop: the window is there too.
until_true 10 on_every_desktop || fail "the window is not on every desktop"
xdotool set_desktop 1
if ! until_true 10 current_desktop_is 1; then
    fail "the window manager did not go to desktop 1"
elif on_every_desktop && until_true 10 full_screen_and_shown; then
    echo "ok: another desktop: the window is shown on it"
else
    fail "desktop 1 is bare: the window stayed behind on desktop $(property -id "$window" _NET_WM_DESKTOP)"
fi

# Minimised: back at once, still full screen.
spy state -id "$window" WM_STATE
until_true 5 logged state 'window state' || { echo "cannot watch the window's state"; exit 1; }
xdotool windowminimize "$window"
if ! until_true 10 logged state 'Iconic'; then
    fail "the window manager did not minimise the window"
elif until_true 10 full_screen_and_shown &&
        until_true 5 sh -c "xprop -id $window WM_STATE | grep -q 'window state: Normal'"; then
    echo "ok: minimised: the window came back"
else
    fail "the minimised window stayed minimised"
fi

kill -0 "$pid" 2>/dev/null || { fail "the program ended"; cat "$work/program.log"; }
[ $failed -eq 0 ] || { echo "kiosk window test failed"; tail -n 20 "$work/program.log"; exit 1; }
echo "kiosk window test passed"
