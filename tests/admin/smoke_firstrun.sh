#!/usr/bin/env bash
# Starts the real program under Xvfb with an empty machine hive, types a password into the
# first-run form as a person would, and checks the cipher text stored in the machine hive.
set -u
program=$1
source "$(cd "$(dirname "$0")/.." && pwd)/tools/isolated_run.sh"

cat > "$work/inner.sh" <<'INNER'
set -u
program=$1; work=$2
"$program" >"$work/program.log" 2>&1 &
pid=$!
find_window() { # name pattern; waits up to 60 s
    local window=
    for _ in $(seq 1 600); do
        window=$(xdotool search --name "$1" 2>/dev/null | head -n 1)
        [ -n "$window" ] && { echo "$window"; return 0; }
        kill -0 "$pid" 2>/dev/null || return 1
        sleep 0.1
    done
    return 1
}
dialog=$(find_window '^ Set Administrator Login$') || {
    echo "the first-run form did not appear"; cat "$work/program.log"; kill "$pid"; exit 1; }
if xdotool search --name '^Quelvard - ' >/dev/null 2>&1; then
    echo "the main window showed before the login was set"; kill "$pid"; exit 1
fi
echo "first-run form: window $dialog"
xdotool windowfocus --sync "$dialog"
sleep 0.3
# The password box has the focus; Tab moves to the confirmation; Enter presses Save.
xdotool type --delay 40 'Secret12'
xdotool key Tab
xdotool type --delay 40 'Secret12'
xdotool key Return
main=$(find_window '^Quelvard - ') || {
    echo "the main window did not appear after saving"; cat "$work/program.log"; kill "$pid"; exit 1; }
echo "main window: $(xdotool getwindowname "$main")"
kill "$pid"
wait "$pid" 2>/dev/null
exit 0
INNER

xvfb-run -a -s "-screen 0 1280x1024x24 -noreset" bash "$work/inner.sh" "$program" "$work" || exit 1

level=$(sqlite3 "$machine_hive" "SELECT data FROM reg_values WHERE key='Software\\Microsoft\\Rowen' AND name='Level'")
echo "stored Level: '$level'"
if [ "$level" != "lioacncnbppebhgo" ]; then
    echo "expected the cipher text of 'Secret12' under key 1"; exit 1
fi
echo "smoke test passed"
