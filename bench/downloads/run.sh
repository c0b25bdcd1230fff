#!/usr/bin/env bash
# Download benchmark: a 1 GiB file from a loopback server, saved by the program through the real
# engine into the Downloads folder, against curl fetching the same file to the same disk in the
# same run. Reports the program's peak resident memory growth over the download (limit 50 MiB)
# and its speed as a share of curl's (at least half).
# Usage: bench/downloads/run.sh [quelvard-testbin] [MiB]   (default build/tests/quelvard-testbin,
# 1024; download_floor is taken from the same build folder)
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
program=${1:-$root/build/tests/quelvard-testbin}
mib=${2:-1024}
[ -x "$program" ] || { echo "build quelvard-testbin first ($program)" >&2; exit 1; }
size=$((mib * 1024 * 1024))
work=$(mktemp -d)
server=""
pid=""
trap 'kill $pid $server 2>/dev/null || true; rm -rf "$work"' EXIT

# The server streams zeros (nothing of the file is held in its memory or on disk), records when
# the file was asked for, and serves /go only once the bench has taken its baseline.
cat >"$work/server.py" <<'PY'
import http.server, os, socketserver, sys, time
work, size = sys.argv[1], int(sys.argv[2])
PAGE = b"""<!doctype html><title>Big</title><script>
fetch('/ready');
(function poll() { fetch('/go').then(r => r.ok ? location.href = '/big' : setTimeout(poll, 50)); })();
</script>"""
class Handler(http.server.BaseHTTPRequestHandler):
    def answer(self, code, body, extra=()):
        self.send_response(code)
        for name, value in extra:
            self.send_header(name, value)
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)
    def do_GET(self):
        if self.path == "/page.html":
            return self.answer(200, PAGE, [("Content-Type", "text/html")])
        if self.path == "/ready":
            open(os.path.join(work, "ready"), "w").close()
            return self.answer(200, b"")
        if self.path == "/go":
            return self.answer(200 if os.path.exists(os.path.join(work, "go")) else 404, b"")
        if self.path == "/big":
            with open(os.path.join(work, "started"), "w") as out:
                out.write(str(time.time()))
            self.send_response(200)
            self.send_header("Content-Type", "application/octet-stream")
            self.send_header("Content-Disposition", 'attachment; filename="big.bin"')
            self.send_header("Content-Length", str(size))
            self.end_headers()
            chunk = bytes(1 << 20)
            left = size
            while left > 0:
                self.wfile.write(chunk[:min(left, len(chunk))])
                left -= len(chunk)
            return
        self.answer(404, b"")
    def log_message(self, *args):
        pass
class Server(http.server.ThreadingHTTPServer):
    def server_bind(self):
        socketserver.TCPServer.server_bind(self)
        self.server_name, self.server_port = self.server_address[:2]
server = Server(("127.0.0.1", 0), Handler)
with open(os.path.join(work, "port.part"), "w") as out:
    out.write(str(server.server_address[1]))
os.replace(os.path.join(work, "port.part"), os.path.join(work, "port"))
server.serve_forever()
PY
python3 "$work/server.py" "$work" "$size" &
server=$!
for _ in $(seq 1 100); do [ -s "$work/port" ] && break; sleep 0.1; done
base=http://127.0.0.1:$(cat "$work/port")

now() { date +%s.%N; }
minus() { awk -v a="$1" -v b="$2" 'BEGIN { print a - b }'; }

# curl first, into the same folder the program saves into.
mkdir -p "$work/home/Downloads"
start=$(now)
curl -s -o "$work/home/Downloads/curl.bin" "$base/big"
curl_seconds=$(minus "$(now)" "$start")
[ "$(stat -c %s "$work/home/Downloads/curl.bin")" -eq "$size" ] || { echo "curl fetched a short file" >&2; exit 1; }
rm -f "$work/home/Downloads/curl.bin" "$work/started"

# The program: its own profile and machine folder, a login set, the bench page as home page.
export HOME=$work/home XDG_DATA_HOME=$work/home/.local/share XDG_CONFIG_HOME=$work/home/.config \
       XDG_CACHE_HOME=$work/home/.cache QUELVARD_TEST_MACHINE_DATA_DIR=$work/machine
export QT_QPA_PLATFORM=offscreen QTWEBENGINE_DISABLE_SANDBOX=1 QTWEBENGINE_CHROMIUM_FLAGS=--disable-gpu
mkdir -p "$work/machine/Quelvard" "$XDG_CONFIG_HOME/Quelvard"
printf 'XDG_DOWNLOAD_DIR="%s"\n' "$HOME/Downloads" >"$XDG_CONFIG_HOME/user-dirs.dirs"
schema="CREATE TABLE reg_keys (path TEXT NOT NULL PRIMARY KEY COLLATE NOCASE);
CREATE TABLE reg_values (key TEXT NOT NULL COLLATE NOCASE, name TEXT NOT NULL COLLATE NOCASE,
  type INTEGER NOT NULL, data BLOB, PRIMARY KEY (key, name));"
sqlite3 "$work/machine/Quelvard/registry.db" "$schema
INSERT INTO reg_keys VALUES ('Software'), ('Software\Microsoft'), ('Software\Microsoft\Rowen'),
  ('Software\Quelvard'), ('Software\Quelvard\Policies');
INSERT INTO reg_values VALUES ('Software\Microsoft\Rowen', 'Level', 1, 'lioacncnbppebhgo'),
  ('Software\Quelvard\Policies', 'HomePage', 1, '$base/page.html');"
sqlite3 "$XDG_CONFIG_HOME/Quelvard/registry.db" "$schema
INSERT INTO reg_keys VALUES ('Software'), ('Software\Quelvard');
INSERT INTO reg_values VALUES ('Software\Quelvard', 'Position', 1, '0,0,900,700');"

rss() { awk "/^$1:/ {print \$2}" "/proc/$pid/status"; }
# download COMMAND...: runs a program that opens the bench page and saves big.bin into the
# Downloads folder; sets $seconds (from the server's first byte to the whole file) and $growth
# (peak resident memory over the download, MiB).
download() {
    rm -rf "$HOME/Downloads" "$work/ready" "$work/go" "$work/started"
    mkdir -p "$HOME/Downloads"
    "$@" >"$work/program.log" 2>&1 &
    pid=$!
    for _ in $(seq 1 600); do [ -e "$work/ready" ] && break; sleep 0.1; done
    [ -e "$work/ready" ] || { echo "the page did not load"; cat "$work/program.log"; exit 1; }
    local baseline target=$HOME/Downloads/big.bin
    baseline=$(rss VmRSS)
    echo 5 >"/proc/$pid/clear_refs" # the peak counts from here
    touch "$work/go"
    while :; do
        # The engine may write under another name until the file is whole.
        if [ -e "$target" ] && [ "$(stat -c %s "$target")" -eq "$size" ] && [ -e "$work/started" ] &&
            [ "$(ls -A "$HOME/Downloads")" = big.bin ]; then
            break
        fi
        kill -0 "$pid" 2>/dev/null || { echo "the program ended"; cat "$work/program.log"; exit 1; }
        sleep 0.02
    done
    seconds=$(minus "$(now)" "$(cat "$work/started")")
    growth=$(( ($(rss VmHWM) - baseline) / 1024 ))
    kill "$pid"; wait "$pid" 2>/dev/null || true
    pid=""
}
# The program twice, around the floor, so drift on the machine touches both alike.
download "$program"
program_seconds=$seconds first_growth=$growth
download "$(dirname "$program")/../bench/downloads/download_floor" "$HOME/Downloads" "$base/page.html"
floor_seconds=$seconds floor_growth=$growth
download "$program"
program_seconds=$(awk -v a="$program_seconds" -v b="$seconds" 'BEGIN { print (a < b ? a : b) }')
growth=$((growth > first_growth ? growth : first_growth))

awk -v mib="$mib" -v c="$curl_seconds" -v p="$program_seconds" -v g="$growth" \
    -v f="$floor_seconds" -v fg="$floor_growth" 'BEGIN {
    printf "file: %d MiB\n", mib
    printf "curl:            %.2f s  %4.0f MiB/s\n", c, mib / c
    printf "bare web view:   %.2f s  %4.0f MiB/s  (%.0f%% of curl), memory growth %d MiB\n", f, mib / f, 100 * c / f, fg
    printf "quelvard (best of 2): %.2f s  %4.0f MiB/s  (%.0f%% of curl; at least 50%%)\n", p, mib / p, 100 * c / p
    printf "quelvard peak resident memory growth (worse of 2): %d MiB (at most 50)\n", g
    exit !(g <= 50 && c / p >= 0.5)
}'
