#!/usr/bin/env bash
# No page starts another program through an address of a scheme the browser does not handle:
# the desktop's opener (xdg-open) is a stand-in that records every call, and it must never be
# called, whether the user clicks such a link or the page goes there by script, frame or form.
source "$(dirname "$0")/session.sh"
mkdir -p "$work/bin"
cat >"$work/bin/xdg-open" <<OPENER
#!/bin/sh
echo "\$*" >>"$work/xdg-open.log"
OPENER
chmod +x "$work/bin/xdg-open"
export PATH=$work/bin:$PATH

schemes=(quelvard-ext:open mailto:someone@example.org tel:+4712345678 irc://irc.example.org/x
         ssh://root@example.org/ smb://server/share)
boxes=
i=0
for target in "${schemes[@]}"; do
    boxes+="<a class=box style='left:$(((i % 4) * 190))px;top:$(((i / 4) * 130))px' href='$target'>$target</a>"
    i=$((i + 1))
done
page external.html 'External schemes' "$boxes
<iframe src='quelvard-ext:frame' style='position:absolute;top:300px'></iframe>
<form action='quelvard-ext:form'><button class=box style='left:0;top:400px'>form</button></form>
<a class=box style='left:200px;top:400px' href='/redirecting.html'>more</a>"
page redirecting.html 'Redirecting' "<a class=box style='left:0;top:0'
  href='/redirect?to=quelvard-ext%3Aredirected'>redirect</a>
<a class=box style='left:200px;top:0' href='/scripted.html'>scripted</a>"
page scripted.html 'Scripted schemes' "
<script>location.href = 'quelvard-ext:scripted';
setTimeout(function () {
  location.href = 'mailto:scripted@example.org';
  beacon('scripted-done');
}, 300);</script>"
seed_home_page "$base/external.html"

start_browser 'External schemes'
for i in "${!schemes[@]}"; do
    click_page $(((i % 4) * 190 + 90)) $(((i / 4) * 130 + 60))
    barrier || fail "after ${schemes[$i]} the page did not report the pointer"
done
click_page 90 460
barrier || fail "after the form the page did not report the pointer"
# A redirect from the server to such an address, then a page that goes there by script.
click_page 290 460
wait_caption '^Quelvard - Redirecting$' 10 || fail "the next page did not open"
locate_page || exit 1
click_page 90 60
wait_request '^/redirect\?to=quelvard-ext' || fail "the redirect was not asked for"
locate_page || { xdotool key alt+Left; wait_caption '^Quelvard - Redirecting$' 10; locate_page; }
click_page 290 60
wait_request '^/beacon\?scripted-done$' || fail "the scripted page did not run"
barrier || fail "after the scripted page it did not report the pointer"
if [ -e "$work/xdg-open.log" ]; then
    fail "another program was started: $(cat "$work/xdg-open.log")"
else
    pass "xdg-open was never called"
fi
conclude
