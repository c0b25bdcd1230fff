#!/usr/bin/env bash
# Nothing a locked user types into a page and saves becomes a favorite: the shortcut text typed
# into a page's text box is saved with Save As into the favorites folder under a favorite's
# name, in several spellings, and the folder (which the Favorites menu lists) gains nothing.
source "$(dirname "$0")/session.sh"
page notes.html 'Notes' "<textarea class=box style='left:0;top:0;width:500px;height:200px'></textarea>"
page typed.html 'Typed address' ''
seed_home_page "$base/notes.html"
favorites=$XDG_DATA_HOME/Quelvard
mkdir -p "$favorites/Links"
printf '[InternetShortcut]\nURL=%s/notes.html\n' "$base" >"$favorites/Notes.irl"
listing() { (cd "$favorites" && find . | sort); }
before=$(listing)

start_browser 'Notes'
click_page 250 100
xdotool type --delay 5 "[InternetShortcut]"
xdotool key Return
xdotool type --delay 5 "URL=$base/typed.html"
for name in "$favorites/Typed.irl" "$favorites/Links/Typed.irl" "$favorites/Typed.IRL" \
            "$favorites/./Typed.irl" "$favorites/Links/../Typed.irl" "$favorites/Typed"; do
    xdotool windowfocus --sync "$window" 2>/dev/null
    xdotool key --delay 150 alt+f s Return
    dialog=$(new_window 50) || { fail "Save As did not open"; break; }
    xdotool windowfocus --sync "$dialog" 2>/dev/null
    sleep 0.3
    # The file name box has the focus, with a suggested name selected.
    xdotool key ctrl+a
    xdotool type --delay 5 "$name"
    xdotool key Return
    sleep 1.5 # for the refusal's message box, closed with the rest
    close_new_windows
done
# The saves were real: the same dialog saves into an ordinary folder. That save, once written,
# also comes after anything the refused ones could still have written.
xdotool windowfocus --sync "$window" 2>/dev/null
xdotool key --delay 150 alt+f s Return
dialog=$(new_window 50) && xdotool windowfocus --sync "$dialog" 2>/dev/null
sleep 0.3
xdotool key ctrl+a
xdotool type --delay 5 "$work/Saved.html"
xdotool key Return
for _ in $(seq 1 200); do [ -s "$work/Saved.html" ] && break; sleep 0.1; done
[ -s "$work/Saved.html" ] || fail "an ordinary save made no file, so the refusals prove nothing"
after=$(listing)
if [ "$after" != "$before" ]; then
    fail "the favorites folder changed: $(diff <(echo "$before") <(echo "$after") | grep '^[<>]')"
else
    pass "the favorites folder is as it was"
fi
close_new_windows
requested '^/typed' && fail "the typed address was followed"

# ---- Downloads: a page's file never lands among the favorites --------------------------------
# The server hands over a favorite's text as a download under a favorite's name and under a name
# climbing out of the Downloads folder, then under a plain name that must arrive (so the refusals
# before it were decided); then, with the Downloads folder itself pointed at the favorites folder
# through xdg-user-dirs, a plain name again, decided before the page that follows shows.
download_routes() {
    local downloads=$HOME/Downloads links='' i=0 name
    local names=("Typed.irl" "Typed.IRL" "../.local/share/Quelvard/Typed.irl" "Saved" "Typed")
    for name in "${names[@]}"; do
        links+="<a class=box href='/attach?name=$(url_encode "$name")' style='left:$((i * 200))px;top:0'>$i</a>"
        i=$((i + 1))
    done
    page files.html 'Files' "$links<a class=box href='/done.html' style='left:0;top:200px'>done</a>"
    page done.html 'Done' ''
    hive_set "$machine_hive" 'Software\Quelvard\Policies' HomePage "$base/files.html"
    kill "$pid" && wait "$pid" 2>/dev/null
    start_browser 'Files'
    locate_page || return
    before=$(listing)
    fetch() { # fetch INDEX: clicks the link and waits until the server was asked for the file
        local seen
        seen=$(grep -c '^/attach' "$requests")
        click_page $(($1 * 200 + 90)) 60
        for _ in $(seq 1 50); do
            [ "$(grep -c '^/attach' "$requests")" -gt "$seen" ] && return
            sleep 0.1
        done
    }
    printf 'XDG_DOWNLOAD_DIR="%s"\n' "$downloads" >"$XDG_CONFIG_HOME/user-dirs.dirs"
    fetch 0; fetch 1; fetch 2; fetch 3
    for _ in $(seq 1 100); do [ -s "$downloads/Saved" ] && break; sleep 0.1; done
    [ -s "$downloads/Saved" ] || fail "an ordinary download made no file, so the refusals prove nothing"
    printf 'XDG_DOWNLOAD_DIR="%s"\n' "$favorites" >"$XDG_CONFIG_HOME/user-dirs.dirs"
    fetch 4
    click_page 90 260
    wait_caption '^Quelvard - Done$' 10 || fail "the page after the downloads did not show"
    [ "$(ls -A "$downloads")" = Saved ] || fail "the Downloads folder holds more than the one file: $(ls -A "$downloads")"
    after=$(listing)
    if [ "$after" = "$before" ]; then
        pass "no download reached the favorites folder"
    else
        fail "a download changed the favorites folder: $(diff <(echo "$before") <(echo "$after") | grep '^[<>]')"
    fi
}
download_routes
conclude
