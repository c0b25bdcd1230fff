#!/usr/bin/env bash
# Start-up benchmark: time from process start to the first page loaded (a loopback page), for
# quelvard and, in the same run, for a bare QWebEngineView program loading the same page.
# With QUELVARD_BENCH_LIST_HOSTS=N, the browser also starts, in the same run, with N imported
# category hosts and 10,000 address patterns in its machine folder.
# Usage: bench/startup/run.sh [runs]   (needs the packages of scripts/setup.sh)
set -euo pipefail
runs=${1:-7}
root=$(cd "$(dirname "$0")/../.." && pwd)
work=$(mktemp -d)
xvfb=""
trap 'kill $server $xvfb 2>/dev/null || true; rm -rf "$work"' EXIT

port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
page="http://127.0.0.1:$port/bench.html"
mkdir -p "$work/site"
printf '<!DOCTYPE html><html><head><title>Bench Page</title></head><body><h1>Bench</h1></body></html>' \
    > "$work/site/bench.html"
python3 -m http.server "$port" --bind 127.0.0.1 --directory "$work/site" >/dev/null 2>&1 &
server=$!

# A build of the browser whose start page is the loopback page, with its own machine folder.
build=$root/build-bench-startup
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release \
    -DQUELVARD_START_PAGE_URL="$page" -DQUELVARD_MACHINE_DATA_DIR="$build/machine" \
    -DQUELVARD_ALLOW_ROOT="$([ "$(id -u)" -eq 0 ] && echo ON || echo OFF)" >/dev/null
cmake --build "$build" -j"$(nproc)" --target quelvard quelvard-admin startup_floor >/dev/null
hosts=${QUELVARD_BENCH_LIST_HOSTS:-0}

# An administrator login already stored, so no first-run dialog stands in the way.
mkdir -p "$build/machine/Quelvard"
sqlite3 "$build/machine/Quelvard/registry.db" <<'SQL'
CREATE TABLE IF NOT EXISTS reg_keys (path TEXT NOT NULL PRIMARY KEY COLLATE NOCASE);
CREATE TABLE IF NOT EXISTS reg_values (key TEXT NOT NULL COLLATE NOCASE, name TEXT NOT NULL COLLATE NOCASE,
  type INTEGER NOT NULL, data BLOB, PRIMARY KEY (key, name));
INSERT OR IGNORE INTO reg_keys VALUES ('Software'), ('Software\Microsoft'), ('Software\Microsoft\Rowen');
INSERT OR REPLACE INTO reg_values VALUES ('Software\Microsoft\Rowen', 'Level', 1, 'lioacncnbppebhgo');
SQL

# The lists, made once through quelvard-admin; each run with them moves them in and out again.
machine=$build/machine/Quelvard
rm -rf "$machine/urlcategories" "$machine/urlfilter.bin"
if [ "$hosts" -gt 0 ]; then
    cp "$machine/registry.db" "$work/plain.db"
    mkdir -p "$work/lists/bench" "$work/with"
    python3 - "$hosts" "$work/lists/bench/domains" "$work/patterns" <<'PY'
import random, sys
random.seed(20261210)
words = ["news", "mail", "games", "video", "shop", "chat", "forum", "music"]
with open(sys.argv[2], "w") as out:
    for i in range(int(sys.argv[1])):
        out.write("%s%d.%s\n" % (random.choice(words), i, random.choice(["com", "org", "net"])))
with open(sys.argv[3], "w") as out:
    for i in range(10000):
        out.write("pattern%d.example/path\n" % i)
PY
    "$build/quelvard-admin" urls import --block "$work/lists/bench" >/dev/null
    xargs -n 1000 "$build/quelvard-admin" urls block < "$work/patterns" >/dev/null
    cp "$machine/registry.db" "$work/lists.db"
    mv "$machine/urlcategories" "$machine/urlfilter.bin" "$work/with/"
    cp "$work/plain.db" "$machine/registry.db"
fi

cat > "$work/one.sh" <<'INNER'
# Prints the milliseconds from start to a window titled "Quelvard - Bench Page", and the MiB of
# the process tree's proportional set size (PSS) a second later.
set -u
work=$1; shift
export HOME=$work/home XDG_DATA_HOME=$work/home/.local/share XDG_CONFIG_HOME=$work/home/.config
rm -rf "$HOME"; mkdir -p "$XDG_CONFIG_HOME/Quelvard"
sqlite3 "$XDG_CONFIG_HOME/Quelvard/registry.db" <<'SQL'
CREATE TABLE reg_keys (path TEXT NOT NULL PRIMARY KEY COLLATE NOCASE);
CREATE TABLE reg_values (key TEXT NOT NULL COLLATE NOCASE, name TEXT NOT NULL COLLATE NOCASE,
  type INTEGER NOT NULL, data BLOB, PRIMARY KEY (key, name));
INSERT INTO reg_keys VALUES ('Software'), ('Software\Quelvard');
INSERT INTO reg_values VALUES ('Software\Quelvard', 'Position', 1, '0,0,648,564');
SQL
start=$(date +%s%N)
"$@" >/dev/null 2>&1 &
pid=$!
while ! xdotool search --name '^Quelvard - Bench Page$' >/dev/null 2>&1; do
    sleep 0.005
    kill -0 $pid 2>/dev/null || { echo "failed"; exit 1; }
done
end=$(date +%s%N)
# The process tree's memory once the page has settled: the browser and the engine's helpers.
sleep 1
tree() { echo "$1"; for child in $(pgrep -P "$1"); do tree "$child"; done; }
pss=0
for p in $(tree $pid); do
    kib=$(awk '/^Pss:/ {print $2}' "/proc/$p/smaps_rollup" 2>/dev/null || true)
    pss=$((pss + ${kib:-0}))
done
kill $pid; wait $pid 2>/dev/null
echo "$(( (end - start) / 1000000 )) $(( pss / 1024 ))"
INNER

# One X server for every run, and one that does not reset: an X server resets when its last
# client leaves, and refuses connections while it does, so the program under test, starting just
# as xdotool's poll disconnected, now and then died before its window showed.
Xvfb -displayfd 3 -noreset -screen 0 1280x1024x24 -nolisten tcp 3>"$work/display" 2>/dev/null &
xvfb=$!
while [ ! -s "$work/display" ]; do
    sleep 0.05
    kill -0 $xvfb 2>/dev/null || { echo "Xvfb did not start" >&2; exit 1; }
done
export DISPLAY=:$(head -n1 "$work/display")

export QTWEBENGINE_DISABLE_SANDBOX=1
measure() {
    bash "$work/one.sh" "$work" "$@"
}
ms_list() { printf '%s\n' "$@" | tr ' ' / | paste -sd' '; }
median() { sort -n | awk '{a[NR]=$1} END {print (NR%2 ? a[(NR+1)/2] : (a[NR/2]+a[NR/2+1])/2)}'; }

browser=(); floor=(); listed=()
for _ in $(seq 1 "$runs"); do
    # Alternate them so drift on the machine touches all alike.
    floor+=("$(measure "$build/bench/startup/startup_floor" "$page")")
    browser+=("$(measure "$build/quelvard")")
    if [ "$hosts" -gt 0 ]; then
        cp "$work/lists.db" "$machine/registry.db"
        mv "$work/with/urlcategories" "$work/with/urlfilter.bin" "$machine/"
        listed+=("$(measure "$build/quelvard")")
        mv "$machine/urlcategories" "$machine/urlfilter.bin" "$work/with/"
        cp "$work/plain.db" "$machine/registry.db"
    fi
done
ms() { printf '%s\n' "$@" | cut -d' ' -f1 | median; }
mib() { printf '%s\n' "$@" | cut -d' ' -f2 | median; }
b=$(ms "${browser[@]}"); f=$(ms "${floor[@]}")
echo "runs: $runs (milliseconds to the page, MiB PSS of the process tree)"
echo "quelvard      median ${b} ms, $(mib "${browser[@]}") MiB   ($(ms_list "${browser[@]}"))"
echo "bare web view median ${f} ms, $(mib "${floor[@]}") MiB   ($(ms_list "${floor[@]}"))"
awk -v b="$b" -v f="$f" 'BEGIN { printf "ratio quelvard / bare: %.2f\n", b / f }'
if [ "$hosts" -gt 0 ]; then
    l=$(ms "${listed[@]}")
    echo "with $hosts listed hosts and 10,000 patterns: median ${l} ms, $(mib "${listed[@]}") MiB   ($(ms_list "${listed[@]}"))"
    awk -v l="$l" -v b="$b" 'BEGIN { printf "ratio with lists / without: %.3f\n", l / b }'
    awk -v l="$(mib "${listed[@]}")" -v b="$(mib "${browser[@]}")" \
        'BEGIN { printf "PSS with lists - without: %+d MiB\n", l - b }'
fi
