#!/usr/bin/env bash
# A link in a PDF clicked with Shift, Ctrl or the middle button, in a PDF shown inside a page's
# frame or as the tab's own page, cannot take the browser down: the click is taken as a plain
# one (the link opens where the PDF is), and the middle button's is dropped.
source "$(dirname "$0")/session.sh"
python3 "$tools/make_link_pdf.py" "$site/linked.pdf" "$base/target.html"
# The viewer's page sits right of its thumbnails, so the point aims at the page itself.
page embedding.html 'Embedded PDF' "
<iframe style='position:absolute;left:0;top:0;width:600px;height:500px;border:0'
  src='/linked.pdf'></iframe>
<a class=box style='left:700px;top:0' href='/linked.pdf'>whole</a>"
page target.html 'Target' "<p>reached</p>"
seed_home_page "$base/embedding.html"

# click_link X Y BUTTON [MODIFIER]: clicks the PDF's link until the link's page is asked for
# (the viewer takes clicks only once it has drawn the PDF), and says whether it was.
click_link() {
    for _ in $(seq 1 15); do
        click_page "$@"
        wait_request '^/target.html' 1 && return 0
        kill -0 "$pid" 2>/dev/null || return 1
    done
    return 1
}

restart() {
    if [ -n "$pid" ]; then
        kill "$pid" 2>/dev/null
        wait "$pid" 2>/dev/null
    fi
    : >"$requests"
    start_browser 'Embedded PDF'
    wait_request '^/linked.pdf' || fail "the embedded PDF was not loaded"
}

for how in "1 shift" "1 ctrl" "1 ctrl+shift"; do
    restart
    click_link 460 300 $how || fail "a click with ${how#1 } on the embedded PDF's link did not open it"
    kill -0 "$pid" 2>/dev/null || { fail "the program ended after a click with ${how#1 }"; pid=; }
done

restart
click_page 460 300 2
click_link 460 300 1 || fail "after a middle click on the embedded PDF, its link did not open"
new_window 1 >/dev/null && fail "a middle click on the PDF's link opened a window"
kill -0 "$pid" 2>/dev/null || { fail "the program ended after a middle click"; pid=; }

# The PDF as the tab's own page (it has no title): its page lies in the middle of the tab.
restart
click_page 790 60
wait_caption '^Quelvard - $' || fail "the PDF did not become the tab's page ($(caption))"
click_link 550 400 1 ctrl || fail "a click with ctrl on the tab's PDF did not open its link"
conclude
