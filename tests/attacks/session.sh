# shellcheck shell=bash
# Sourced by the attack tests (attack_*.sh): runs the calling script under an X server of its
# own, with an isolated profile and machine folder (see isolated_run.sh for the arguments), a
# login already set (so the browser starts locked, without the first-run form), a loopback page
# server, and helpers that drive the browser only through real X input and watch it only from
# outside: its window caption, its windows, and what the page server was asked for.
set -u
tools=$(cd "$(dirname "${BASH_SOURCE[0]}")/../tools" && pwd)
source "$tools/isolated_run.sh"
seed_admin_login
start_x
site=$work/site
requests=$work/requests.log
mkdir -p "$site"
: >"$requests"
pid=
server_pid=
failures=0

finish() {
    [ -n "$pid" ] && kill "$pid" 2>/dev/null && wait "$pid" 2>/dev/null
    [ -n "$server_pid" ] && kill "$server_pid" 2>/dev/null && wait "$server_pid" 2>/dev/null
    end_isolated_run
}
trap finish EXIT

fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}

pass() {
    echo "ok: $*"
}

# Ends the test: the program must still be running (no attack may crash it) and nothing failed.
conclude() {
    if [ -n "$pid" ] && ! kill -0 "$pid" 2>/dev/null; then
        fail "the program ended during the attacks"
        cat "$work/program.log"
    fi
    if [ "$failures" -gt 0 ]; then
        echo "$failures check(s) failed; the page server was asked for:"
        grep -v '^/beacon?at-' "$requests" | sort | uniq -c | head -n 40
        echo "program output:"
        tail -n 40 "$work/program.log"
        exit 1
    fi
    echo "all routes closed"
    exit 0
}

# Starts the page server on a free loopback port: $base and $other are the same server under
# two domains (127.0.0.1 and localhost), which the popup blocker tells apart.
start_server() {
    python3 "$tools/page_server.py" "$site" "$requests" "$work/port" &
    server_pid=$!
    for _ in $(seq 1 300); do
        [ -s "$work/port" ] && break
        sleep 0.1
    done
    port=$(cat "$work/port") || exit 1
    base=http://127.0.0.1:$port
    other=http://localhost:$port
}

# Every test page loads this: beacon() tells the server what a script saw, and the pointer's
# place in the page is reported that way too, so a test knows where the page lies on screen.
write_harness() {
    cat >"$site/harness.js" <<'JS'
function beacon(what) { new Image().src = '/beacon?' + what; }
var lastPointer = '';
document.addEventListener('mousemove', function (e) {
    var at = 'at-' + e.clientX + '-' + e.clientY;
    if (at !== lastPointer) beacon(lastPointer = at);
});
JS
}

# page NAME TITLE BODY: writes $site/NAME, a page with the harness.
page() {
    printf '<!doctype html><html><head><meta charset="utf-8"><title>%s</title>
<script src="/harness.js"></script><style>body{margin:0}
.box{position:absolute;display:block;width:180px;height:120px;background:#ccd;border:0}
</style></head><body>%s</body></html>\n' "$2" "$3" >"$site/$1"
}

# The browser starts on the machine-wide home page and not as a first run (a window position
# is stored), so its first tab opens the attack page.
seed_home_page() {
    mkdir -p "$(dirname "$user_hive")"
    hive_set "$machine_hive" 'Software\Quelvard\Policies' HomePage "$1"
    hive_set "$user_hive" 'Software\Quelvard' Position '0,0,1100,900'
}

allow_popups_machine_wide() {
    hive_set "$machine_hive" 'Software\Quelvard\Policies\Popups' "$1" ''
}

# Percent-encodes a whole address, for a query value.
url_encode() {
    local text=$1 i c out=''
    for ((i = 0; i < ${#text}; i++)); do
        c=${text:i:1}
        case $c in
            [a-zA-Z0-9.~_-]) out+=$c ;;
            *) out+=$(printf '%%%02X' "'$c") ;;
        esac
    done
    echo "$out"
}

caption() {
    xdotool getwindowname "$window" 2>/dev/null
}

# wait_caption REGEX [SECONDS]: true once the main window's caption matches.
wait_caption() {
    local limit=$((${2:-20} * 10))
    for _ in $(seq 1 "$limit"); do
        [[ $(caption) =~ $1 ]] && return 0
        kill -0 "$pid" 2>/dev/null || return 1
        sleep 0.1
    done
    return 1
}

# start_browser TITLE [ARGUMENT...]: starts the program and waits for its main window showing
# the page titled TITLE; sets $pid and $window, gives the window the keyboard, finds the page.
start_browser() {
    local title=$1
    shift
    # From a folder of its own, so a file saved under a bare name lands there.
    (cd "$work" && exec "$program" "$@") >"$work/program.log" 2>&1 &
    pid=$!
    window=$(find_window '^Quelvard - ')
    if [ -z "$window" ] || ! wait_caption "^Quelvard - $title\$" 30; then
        echo "the browser did not show '$title' (caption: '$(caption)')"
        cat "$work/program.log"
        exit 1
    fi
    xdotool windowfocus --sync "$window" 2>/dev/null
    windows_at_start=$(visible_windows)
    locate_page || exit 1
}

# The program's visible top-level windows, one id a line.
visible_windows() {
    xdotool search --onlyvisible --pid "$pid" 2>/dev/null | sort
}

# new_window [TENTHS]: waits up to TENTHS tenths of a second for a visible window the program
# did not show at start, and prints it.
new_window() {
    local limit=${1:-100} w
    for _ in $(seq 1 "$limit"); do
        for w in $(visible_windows); do
            grep -qx "$w" <<<"$windows_at_start" || { echo "$w"; return 0; }
        done
        sleep 0.1
    done
    return 1
}

# Closes every window shown since start (dialogs, message boxes) the way the close box does.
close_new_windows() {
    local w
    for _ in 1 2 3 4 5; do
        w=$(new_window 3) || return 0
        python3 "$tools/wm_close.py" "$w"
        sleep 0.3
    done
}

# Finds where the page's top-left corner is on the screen, by moving the pointer over the page
# and reading its position in the page from the page's report: sets $page_x and $page_y.
locate_page() {
    local seen x y
    eval "$(xdotool getwindowgeometry --shell "$window")"
    for step in 0 1 2 3 4 5; do
        seen=$(wc -l <"$requests")
        xdotool mousemove $((X + 600 + step)) $((Y + 600))
        for _ in $(seq 1 10); do
            read -r x y < <(tail -n +$((seen + 1)) "$requests" \
                | sed -n 's|^/beacon?at-\([0-9]*\)-\([0-9]*\)$|\1 \2|p' | tail -n 1)
            if [ -n "$x" ]; then
                page_x=$((X + 600 + step - x))
                page_y=$((Y + 600 - y))
                return 0
            fi
            sleep 0.1
        done
    done
    echo "the page did not report the pointer (caption: '$(caption)')"
    return 1
}

# barrier [X Y [LEFT]]: the pointer moves to a point of the page (or of a frame whose left edge is
# at LEFT) and the test waits for the page's report of it, which comes after everything earlier
# input set off there. Only X counts: the popup bar may be sliding the page down meanwhile.
barrier_step=0
barrier() {
    local seen x y
    seen=$(wc -l <"$requests")
    barrier_step=$(((barrier_step + 1) % 20))
    x=$((${1:-900} + barrier_step)) y=${2:-560}
    xdotool mousemove $((page_x + x)) $((page_y + y))
    for _ in $(seq 1 100); do
        tail -n +$((seen + 1)) "$requests" | grep -q "^/beacon?at-$((x - ${3:-0}))-" && return 0
        sleep 0.1
    done
    return 1
}

# wait_request PATH-REGEX [SECONDS]: true once the server was asked for a matching path.
wait_request() {
    for _ in $(seq 1 $((${2:-20} * 10))); do
        requested "$1" && return 0
        sleep 0.1
    done
    return 1
}

# click_page X Y [BUTTON] [MODIFIER]: a real click at a point of the page.
click_page() {
    xdotool mousemove $((page_x + $1)) $((page_y + $2))
    sleep 0.1
    if [ -n "${4:-}" ]; then
        xdotool keydown "$4" click "${3:-1}" keyup "$4"
    else
        xdotool click "${3:-1}"
    fi
}

# requested PATH-REGEX: true when the server was asked for a matching path.
requested() {
    grep -Eq "$1" "$requests"
}

# The main process's resident memory in kB.
resident_kb() {
    awk '/^VmRSS:/ {print $2}' "/proc/$pid/status"
}

start_server
write_harness
