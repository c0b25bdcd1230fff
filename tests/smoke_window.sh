#!/usr/bin/env bash
# Starts the real program under Xvfb in a fresh profile, waits for its first-run window,
# closes it as a person would with the close box, and checks the stored window position.
set -u
here=$(cd "$(dirname "$0")" && pwd)
source "$here/tools/isolated_run.sh"
seed_admin_login
start_x

"$program" >"$work/program.log" 2>&1 &
pid=$!
window=
for _ in $(seq 1 600); do
    window=$(xdotool search --name '^Quelvard - Welcome to Quelvard$' 2>/dev/null | head -n 1)
    [ -n "$window" ] && break
    kill -0 "$pid" 2>/dev/null || { echo "program ended early"; cat "$work/program.log"; exit 1; }
    sleep 0.1
done
if [ -z "$window" ]; then
    echo "no window titled 'Quelvard - Welcome to Quelvard' appeared"
    xdotool search --name 'Quelvard' getwindowname %@ 2>/dev/null
    kill "$pid"; exit 1
fi
echo "window $window: $(xdotool getwindowname "$window")"
python3 "$here/tools/wm_close.py" "$window"
for _ in $(seq 1 300); do
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.1
done
if kill -0 "$pid" 2>/dev/null; then
    echo "the program did not end after the close request"; kill "$pid"; exit 1
fi
wait "$pid" || exit 1

position=$(stored "$user_hive" 'Software\Quelvard' Position)
echo "stored Position: '$position'"
if ! [[ $position =~ ^[0-9]+,[0-9]+,[0-9]+,[0-9]+$ ]]; then
    echo "expected four numbers"; exit 1
fi
echo "smoke test passed"
