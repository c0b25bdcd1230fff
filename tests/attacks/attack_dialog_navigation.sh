#!/usr/bin/env bash
# The windows a locked browser opens for a page (its source, Find, Save As, Print, Properties)
# offer no way to navigate: an address typed into each, with Enter, is followed nowhere, and
# the browser still shows the page it showed.
source "$(dirname "$0")/session.sh"
page dialogs.html 'Dialog attacks' "<p>Find me. <a href='/linked.html'>$base/linked.html</a></p>"
seed_home_page "$base/dialogs.html"
start_browser 'Dialog attacks'

# name, then the keys that open it on the main window (a letter two items share in a menu
# only selects, so Return follows it)
openers=("source window:alt+f v v Return" "find dialog:ctrl+f" "save dialog:alt+f s Return"
         "print dialog:ctrl+p" "properties dialog:alt+f r")
for opener in "${openers[@]}"; do
    name=${opener%%:*}
    xdotool windowfocus --sync "$window" 2>/dev/null
    # shellcheck disable=SC2086 # several keys
    xdotool key --delay 150 ${opener#*:}
    dialog=$(new_window 50) || { fail "the $name did not open"; continue; }
    echo "$name: '$(xdotool getwindowname "$dialog")'"
    xdotool windowfocus --sync "$dialog" 2>/dev/null
    sleep 0.3
    for field in 1 2 3 4 5 6; do
        xdotool key ctrl+a
        xdotool type --delay 5 "$base/typed.html?$field"
        xdotool key Tab
    done
    xdotool type --delay 5 "$base/typed.html?last"
    xdotool key Return
    sleep 1 # for a message box the answer may bring, to be closed with the rest
    close_new_windows
    xdotool key --window "$window" Escape
    # What Enter set off in the window is decided before the page sees the pointer move.
    barrier || fail "after the $name the page did not report the pointer"
    if requested '^/(typed|linked)'; then
        fail "the $name navigated: $(grep -E '^/(typed|linked)' "$requests" | head -n 3)"
        : >"$requests"
    else
        pass "the $name navigated nowhere"
    fi
done
[[ $(caption) =~ ^Quelvard\ -\ (Dialog\ attacks)$ ]] || fail "the caption shows '$(caption)'"
conclude
