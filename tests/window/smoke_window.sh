#!/usr/bin/env bash
# Starts the real program under Xvfb in a fresh profile, waits for its first-run window,
# closes it as a person would with the close box, and checks the stored window position.
set -u
here=$(cd "$(dirname "$0")/.." && pwd)
source "$here/tools/isolated_run.sh"
seed_admin_login
start_x

"$program" >"$work/program.log" 2>&1 &
pid=$!
window=$(find_window '^Quelvard - Welcome to Quelvard$') || {
    echo "no window titled 'Quelvard - Welcome to Quelvard' appeared"; cat "$work/program.log"
    kill "$pid"; exit 1; }
echo "window $window: $(xdotool getwindowname "$window")"
python3 "$here/tools/wm_close.py" "$window"
ended || { echo "the program did not end after the close request"; kill "$pid"; exit 1; }
[ "$status" -eq 0 ] || { echo "the program ended with status $status"; exit 1; }

position=$(stored "$user_hive" 'Software\Quelvard' Position)
echo "stored Position: '$position'"
if ! [[ $position =~ ^[0-9]+,[0-9]+,[0-9]+,[0-9]+$ ]]; then
    echo "expected four numbers"; exit 1
fi
echo "smoke test passed"
