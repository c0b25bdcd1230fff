#!/usr/bin/env bash
# Neither a command-line switch nor the engine's debugging variables open a remote-debugging
# port: the browser starts with all three ways of asking for one, each naming its own free
# port, and none of those ports listens while it shows its page.
source "$(dirname "$0")/session.sh"
page debug.html 'Debug port' ''
seed_home_page "$base/debug.html"

read -r by_variable by_flags by_switch < <(python3 -c '
import socket
sockets = [socket.socket() for _ in range(3)]
for s in sockets:
    s.bind(("127.0.0.1", 0))
print(*[s.getsockname()[1] for s in sockets])')
export QTWEBENGINE_REMOTE_DEBUGGING=127.0.0.1:$by_variable
export QTWEBENGINE_CHROMIUM_FLAGS="--disable-gpu --remote-debugging-port=$by_flags"
start_browser 'Debug port' --remote-debugging-port="$by_switch" --enable-logging
# The engine opens such a port while it starts, before it shows a page: a round trip through
# the page shown comes after it.
barrier || fail "the page did not report the pointer"
listening() {
    ss -ltnH "( sport = :$1 )" | grep -q . \
        || python3 -c 'import socket, sys; socket.create_connection(("127.0.0.1", int(sys.argv[1])), 1)' "$1" 2>/dev/null
}
for way in "QTWEBENGINE_REMOTE_DEBUGGING:$by_variable" "QTWEBENGINE_CHROMIUM_FLAGS:$by_flags" \
           "--remote-debugging-port:$by_switch"; do
    if listening "${way##*:}"; then fail "${way%:*} opened port ${way##*:}"; else pass "${way%:*}"; fi
done
# Whatever the engine listens on, it is not a debugging endpoint.
for listener in $(ss -ltnpH | grep "pid=$pid," | awk '{print $4}'); do
    fail "the browser listens on $listener"
done
conclude
