#!/usr/bin/env bash
# Checks the keeper's systemd units as the package installs them. systemd-analyze wants the
# program ExecStart names to exist, so a copy of the units starts the one built here instead.
#   keeper_units.sh PACKAGING_FOLDER KEEPER_BINARY
set -u
packaging=$1 binary=$2
command -v systemd-analyze >/dev/null || { echo "SKIPPED: systemd-analyze is not installed"; exit 77; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

service=$packaging/quelvard-keeper.service
socket=$packaging/quelvard-keeper.socket
grep -qx 'ExecStart=/usr/sbin/quelvard-keeper' "$service" || fail "ExecStart is not the installed program"
grep -qx 'User=_quelvard' "$service" || fail "the service does not run as _quelvard"
grep -qx 'ListenStream=/run/quelvard/keeper.socket' "$socket" || fail "the socket is not where the browser looks"
grep -q '^u _quelvard ' "$packaging/quelvard-keeper.sysusers" || fail "sysusers does not create _quelvard"

cp "$socket" "$work/"
sed "s|^ExecStart=.*|ExecStart=$binary|" "$service" >"$work/quelvard-keeper.service"
# Only what the units themselves get wrong counts; the machine's other units are not ours.
output=$(cd "$work" && SYSTEMD_LOG_LEVEL=warning systemd-analyze verify --man=no \
    ./quelvard-keeper.socket ./quelvard-keeper.service 2>&1)
status=$?
echo "$output"
[ $status -eq 0 ] || fail "systemd-analyze verify exited $status"
echo "$output" | grep -i 'quelvard-keeper' && fail "systemd-analyze complains about the units"

[ $failures -eq 0 ] || exit 1
echo "keeper units verified"
