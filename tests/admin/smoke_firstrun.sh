#!/usr/bin/env bash
# Starts the real program under Xvfb with an empty machine hive, types a password into the
# first-run form as a person would, and checks the cipher text stored in the machine hive.
set -u
source "$(cd "$(dirname "$0")/.." && pwd)/tools/isolated_run.sh"
start_x

"$program" >"$work/program.log" 2>&1 &
pid=$!
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

level=$(stored "$machine_hive" 'Software\Microsoft\Rowen' Level)
echo "stored Level: '$level'"
if [ "$level" != "lioacncnbppebhgo" ]; then
    echo "expected the cipher text of 'Secret12' under key 1"; exit 1
fi
echo "smoke test passed"
