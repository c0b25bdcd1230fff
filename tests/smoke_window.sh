#!/usr/bin/env bash
# Starts the real program under Xvfb in a fresh profile, waits for its first-run window,
# closes it as a person would with the close box, and checks the stored window position.
set -u
program=$1
here=$(cd "$(dirname "$0")" && pwd)
source "$here/tools/isolated_run.sh"
seed_admin_login

cat > "$work/inner.sh" <<'INNER'
set -u
program=$1; here=$2; work=$3
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
wait "$pid"
INNER

xvfb-run -a -s "-screen 0 1280x1024x24 -noreset" bash "$work/inner.sh" "$program" "$here" "$work" || exit 1

position=$(sqlite3 "$user_hive" "SELECT data FROM reg_values WHERE key='Software\\Quelvard' AND name='Position'")
echo "stored Position: '$position'"
if ! [[ $position =~ ^[0-9]+,[0-9]+,[0-9]+,[0-9]+$ ]]; then
    echo "expected four numbers"; exit 1
fi
echo "smoke test passed"
