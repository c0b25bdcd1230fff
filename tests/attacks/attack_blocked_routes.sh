#!/usr/bin/env bash
# A host on the machine's block list is reached by no route a page has: a link, a hop of a
# redirect, a frame, or a window the popup list lets the page open. Each shows the blocked page,
# and the page server is never asked for the blocked host's page. Every *.localhost name is this
# machine, so the allowed and the blocked host are the same server under two names. A blocked
# IPv4 address is not reached through its IPv4-mapped IPv6 spelling either.
source "$(dirname "$0")/session.sh"
school=http://school.localhost:$port
games=http://games.localhost:$port
hive_set "$machine_hive" 'Software\Quelvard\Policies\URLBlocklist' games.localhost ''
hive_set "$machine_hive" 'Software\Quelvard\Policies\URLBlocklist' 127.0.0.1 ''
allow_popups_machine_wide "school.localhost:$port"

# Boxes are 180 x 120; the page reports once everything in it, the frame too, has loaded.
page routes.html 'Blocked routes' "
<a class=box style='left:0;top:0' href='$games/blocked-link.html'>link</a>
<a class=box style='left:200px;top:0' href='/redirect?to=$(url_encode "$games/blocked-hop.html")'>redirect</a>
<button class=box style='left:400px;top:0'
  onclick=\"window.open('$games/blocked-popup.html')\">popup</button>
<a class=box style='left:600px;top:0' href='http://[::ffff:7f00:1]:$port/blocked-mapped.html'>mapped</a>
<iframe style='position:absolute;left:0;top:140px;width:380px;height:140px;border:0'
  src='$games/blocked-frame.html'></iframe>
<script>window.onload = function () { beacon('loaded'); };</script>"
for name in link hop popup frame mapped; do
    page "blocked-$name.html" 'Reached' "<p>$name</p>"
done
seed_home_page "$school/routes.html"

# not_fetched ROUTE: the blocked host's page for ROUTE was never asked for.
not_fetched() {
    if requested "^/blocked-$1"; then
        fail "the blocked host's page was fetched by route '$1'"
    else
        pass "nothing fetched from the blocked host by route '$1'"
    fi
}

start_browser 'Blocked routes'
wait_request '^/beacon\?loaded' || fail "the page with the frame did not finish loading"
not_fetched frame

# back_to_page: Back returns to the page of routes, ready for the next click.
back_to_page() {
    xdotool key alt+Left
    wait_caption '^Quelvard - Blocked routes$' 20 || fail "Back did not return to the page"
    barrier || fail "the page did not report the pointer after Back"
}

click_page 90 60
wait_caption '^Quelvard - Page blocked$' 20 || fail "the link did not show the blocked page"
not_fetched link
back_to_page

click_page 290 60
wait_caption '^Quelvard - Page blocked$' 20 || fail "the redirect did not show the blocked page"
requested '^/redirect' || fail "the redirect was never followed, so it proves nothing"
not_fetched hop
back_to_page

click_page 690 60
wait_caption '^Quelvard - Page blocked$' 20 || fail "the IPv4-mapped address did not show the blocked page"
not_fetched mapped
back_to_page

# The window the popup list lets open comes up as a tab in front.
click_page 490 60
wait_caption '^Quelvard - Page blocked$' 20 || fail "the popup did not show the blocked page"
not_fetched popup
conclude
