#!/usr/bin/env bash
# A page allowed to open windows cannot take the browser down through a window that starts
# empty and is written into by its opener, from the page itself or from a frame of another site:
# the browser must still be running, answering, and opening the page's ordinary windows after.
source "$(dirname "$0")/session.sh"
allow_popups_machine_wide "127.0.0.1:$port"

write_into() { # write_into ADDRESS NAME: the script of a button that writes into a new window
    echo "try { var w = window.open('$1'); w.document.write('<title>x</title>hi'); } catch (e) {} beacon('tried-$2');"
}
page blank.html 'Blank windows' "
<button class=box style='left:0;top:0' onclick=\"$(write_into '' empty)\">empty</button>
<button class=box style='left:200px;top:0' onclick=\"$(write_into about:blank about)\">about</button>
<button class=box style='left:400px;top:0' onclick=\"window.open('/popup-real.html')\">real</button>
<iframe style='position:absolute;left:0;top:140px;width:380px;height:140px;border:0'
  src='$other/frame.html'></iframe>"
page frame.html 'Frame' "
<button class=box style='left:0;top:0' onclick=\"$(write_into '' frame)\">frame</button>"
page popup-real.html 'Ordinary popup' "<p>opened</p>"
seed_home_page "$base/blank.html"

start_browser 'Blank windows'
requested '^/frame.html' || wait_request '^/frame.html' || fail "the frame did not load"
click_page 90 200
click_page 90 60
click_page 290 60
for name in frame empty about; do
    wait_request "^/beacon\\?tried-$name\$" || fail "the '$name' window was never tried"
done
# Painting the written window is what used to end the program: the page must still answer
# after that, and the next window it asks for must still open.
barrier || fail "the page stopped answering after the empty windows"
click_page 490 60
wait_caption '^Quelvard - Ordinary popup$' 20 || fail "the page's ordinary popup did not open"
wait_request '^/popup-real.html' || fail "the ordinary popup was not loaded"
conclude
