# Sourced by the shell suites, whose arguments are the test build of the program
# (quelvard-testbin), quelvard-testseed and, for the attacks, drag_source: gives the program a
# fresh profile and a machine folder of its own under $work, removed on exit. The test build takes
# its machine folder from QUELVARD_TEST_MACHINE_DATA_DIR, so no suite reads or writes the machine
# folder a real start uses, even when it is killed half-way.
program=$1 testseed=$2 drag_source=${3:-}
case "$(basename "$program")" in
    quelvard-testbin) ;;
    *) echo "'$program' is not the test build of the program (quelvard-testbin): not running it"
       exit 1 ;;
esac
work=$(mktemp -d)
xvfb_pid= wm_pid=
end_isolated_run() {
    [ -n "$wm_pid" ] && kill "$wm_pid" 2>/dev/null && wait "$wm_pid" 2>/dev/null
    [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null && wait "$xvfb_pid" 2>/dev/null
    rm -rf "$work"
}
trap end_isolated_run EXIT
export QUELVARD_TEST_MACHINE_DATA_DIR=$work/machine
machine_hive=$QUELVARD_TEST_MACHINE_DATA_DIR/Quelvard/registry.db
mkdir -p "$(dirname "$machine_hive")"

export HOME=$work/home XDG_DATA_HOME=$work/home/.local/share XDG_CONFIG_HOME=$work/home/.config \
       XDG_CACHE_HOME=$work/home/.cache XDG_RUNTIME_DIR=$work/run
user_hive=$XDG_CONFIG_HOME/Quelvard/registry.db
mkdir -p "$HOME" "$XDG_RUNTIME_DIR" && chmod 700 "$XDG_RUNTIME_DIR"
export QTWEBENGINE_DISABLE_SANDBOX=1 QTWEBENGINE_CHROMIUM_FLAGS=--disable-gpu
unset QT_QPA_PLATFORM

# hive_set HIVE KEY NAME TEXT...: string values, written by the store's own code.
hive_set() {
    "$testseed" "$@" || { echo "could not seed $1"; exit 1; }
}

# An administrator login in this run's machine hive, so the first-run login form does not stand
# before the main window.
seed_admin_login() {
    hive_set "$machine_hive" 'Software\Microsoft\Rowen' Level lioacncnbppebhgo
}

# stored HIVE KEY NAME: a value as the program stored it.
stored() {
    sqlite3 "$1" "SELECT data FROM reg_values WHERE key='$2' AND name='$3'"
}

# needs TOOL...: without one of them the suite cannot run here, and says it is skipped (exit 77,
# CTest's SKIP_RETURN_CODE) rather than passed or failed.
needs() {
    local tool
    for tool; do
        command -v "$tool" >/dev/null ||
            { echo "SKIPPED: $tool is not installed (scripts/setup.sh installs it)"; exit 77; }
    done
}

# Starts an X server of this run's own on a display it picks itself (so suites run side by side
# without racing for one), that does not reset when its last client leaves, and sets DISPLAY.
start_x() {
    needs Xvfb xdotool
    Xvfb -displayfd 3 -screen 0 1280x1024x24 -noreset -nolisten tcp 3>"$work/display" \
        2>"$work/xvfb.log" &
    xvfb_pid=$!
    for _ in $(seq 1 100); do grep -q '^[0-9]' "$work/display" && break; sleep 0.1; done
    grep -q '^[0-9]' "$work/display" || { echo "Xvfb did not start"; cat "$work/xvfb.log"; exit 1; }
    export DISPLAY=:$(head -n 1 "$work/display")
}

# Starts openbox on this run's X server and waits until it manages the screen; the run's end
# stops it.
start_openbox() {
    needs openbox xprop xwininfo
    openbox >"$work/openbox.log" 2>&1 &
    wm_pid=$!
    for _ in $(seq 1 100); do
        xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id' && return 0
        sleep 0.1
    done
    echo "openbox did not start"; cat "$work/openbox.log"; exit 1
}

# find_window NAME-REGEX: waits up to 60 s for a visible window so named while the program ($pid)
# runs, and prints its id.
find_window() {
    local window
    for _ in $(seq 1 600); do
        window=$(xdotool search --onlyvisible --name "$1" 2>/dev/null | head -n 1)
        [ -n "$window" ] && { echo "$window"; return 0; }
        kill -0 "$pid" 2>/dev/null || return 1
        sleep 0.1
    done
    return 1
}

# ended: true once the program ($pid) has ended, within 30 s; its status is then in $status.
ended() {
    for _ in $(seq 1 300); do
        kill -0 "$pid" 2>/dev/null || { wait "$pid"; status=$?; return 0; }
        sleep 0.1
    done
    return 1
}
