#!/usr/bin/env bash
# No page reaches a file:, view-source:, chrome:, devtools: or qrc: address: not by a link the
# user clicks, not by a redirect from the server, not in a frame. A local file and the pages
# whose source would be shown call the page server when they are shown, so reaching them cannot
# go unseen; the engine's own pages and the program's resources are seen in the caption, which
# may only ever show the attack page itself or an error page for a refused address.
source "$(dirname "$0")/session.sh"

mkdir -p "$work/local"
cat >"$work/local/secret.html" <<HTML
<title>Local secret</title><img src="$base/beacon?file-reached">
HTML
file_url=file://$work/local/secret.html
targets=("$file_url" "view-source:$base/source-target.html" 'chrome://version/'
         'devtools://devtools/bundled/inspector.html' 'qrc:/pages/start.html')
page source-target.html 'Source target' ''
boxes=
frames=
i=0
for target in "${targets[@]}"; do
    encoded=$(url_encode "$target")
    boxes+="<a class=box style='left:$((i * 190))px;top:0' href='$target'>link $i</a>"
    boxes+="<a class=box style='left:$((i * 190))px;top:130px' href='/redirect?to=$encoded'>redirect $i</a>"
    frames+="<iframe src='$target'></iframe><iframe src='/redirect?to=$encoded'></iframe>"
    i=$((i + 1))
done
page forbidden.html 'Forbidden schemes' "$boxes<div style='position:absolute;top:300px;width:300px'>$frames</div>
<style>iframe{width:20px;height:20px}</style>
<script>addEventListener('load', function () { beacon('frames-done'); });</script>"
seed_home_page "$base/forbidden.html"

start_browser 'Forbidden schemes'
# The page's load ends after every frame's, whatever each frame was let show.
wait_request '^/beacon\?frames-done$' || fail "the page's frames never finished"
# Only the attack page itself, or the error page of a refused redirect (named after the host).
allowed_caption="^Quelvard - (Forbidden schemes|127\.0\.0\.1|)$"
attempt() { # X Y what
    local shown
    click_page "$1" "$2"
    # A refused redirect ends on an error page; a refused link stays where it was, and the page's
    # own report of the pointer comes after the browser's decision on it.
    [[ $3 != "a redirect"* ]] || wait_caption '^Quelvard - (127\.0\.0\.1|)$' 5
    locate_page >/dev/null
    local left=$?
    shown=$(caption)
    [[ $shown =~ $allowed_caption ]] || fail "$3 showed '$shown'"
    if [ $left -ne 0 ]; then
        xdotool key --window "$window" alt+Left
        wait_caption '^Quelvard - Forbidden schemes$' 10 || fail "could not go back after $3"
        locate_page || exit 1
    fi
}
for i in "${!targets[@]}"; do
    attempt $((i * 190 + 90)) 60 "a link to ${targets[$i]}"
    attempt $((i * 190 + 90)) 190 "a redirect to ${targets[$i]}"
done
requested 'beacon\?file-reached' && fail "a local file was shown"
requested '^/source-target' && fail "a page's source was shown"
requested '^/redirect' || fail "no redirect was followed at all, so they prove nothing"
pass "captions after each attempt: none left the attack page for a forbidden address"
conclude
