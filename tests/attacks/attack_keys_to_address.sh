#!/usr/bin/env bash
# No key or key sequence of a locked browser reaches an address field: after each one an
# address is typed and Enter pressed, and neither the page server nor the caption may show that
# it was followed, and no new window may have opened.
source "$(dirname "$0")/session.sh"
page keys.html 'Key attacks' "<textarea class=box style='left:0;top:0'
  oninput=\"beacon('typed-' + encodeURIComponent(this.value))\"></textarea>"
page typed.html 'Typed address' ''
seed_home_page "$base/keys.html"
start_browser 'Key attacks'
# A key may have reloaded the page or moved the window: then the page is found again.
settled() { barrier || { locate_page >/dev/null && barrier; }; }

# The shortcuts browsers give to the address bar, a new window or tab, the engine's tools, and
# the focus chain walked both ways.
sequences=(
    ctrl+l alt+d F6 shift+F6 ctrl+k ctrl+e F4 alt+Return ctrl+t ctrl+n ctrl+shift+n
    ctrl+o ctrl+shift+o ctrl+h ctrl+b ctrl+shift+b ctrl+j ctrl+u F12 ctrl+shift+i ctrl+shift+j
    ctrl+shift+c F1 F3 F5 F7 F11 alt+Home ctrl+Tab ctrl+shift+Tab ctrl+Page_Down shift+F10 Menu
    "$(printf 'Tab %.0s' $(seq 1 25))" "$(printf 'shift+Tab %.0s' $(seq 1 25))"
)
for sequence in "${sequences[@]}"; do
    xdotool windowfocus --sync "$window" 2>/dev/null
    # shellcheck disable=SC2086 # a sequence is several keys
    xdotool key --delay 30 $sequence
    # The browser has acted on the keys before the page sees the pointer move (a window that
    # takes the input stops the report, and shows below).
    settled
    focused=$(xdotool getwindowfocus 2>/dev/null)
    now=$(visible_windows)
    [ "$now" = "$windows_at_start" ] \
        || fail "'$sequence' opened a window: $(for w in $now; do xdotool getwindowname "$w"; done | tr '\n' '|')"
    xdotool type --delay 5 "$base/typed.html?$sequence"
    xdotool key Return
    # Enter on a focused button may open a menu that holds the pointer until Escape.
    settled || { xdotool key Escape Escape; settled; } \
        || fail "after '$sequence' the page did not report the pointer"
    if requested '^/typed'; then
        fail "after '$sequence' (focus on window $focused) a typed address was followed"
        : >"$requests"
    fi
    xdotool key Escape Escape
done
barrier || fail "the page did not report the pointer"
requested '^/typed' && fail "a typed address was followed"
[[ $(caption) =~ ^Quelvard\ -\ (Key\ attacks)$ ]] || fail "the caption shows '$(caption)'"
# The keys did reach the browser: typed into the page's text box, they arrive.
locate_page || exit 1
click_page 90 60
xdotool key ctrl+a BackSpace
xdotool type --delay 20 alive
wait_request '^/beacon\?typed-alive$' || fail "keys typed into the page never arrived, so the others prove nothing"
pass "${#sequences[@]} key sequences tried"
conclude
