#!/usr/bin/env bash
# The kiosk set-up's files as the guide installs them: LightDM logs the kiosk account into the
# session the .desktop file names, whose script starts the browser again each time it ends.
#   kiosk_files.sh EXAMPLES_KIOSK_DIR ADMIN.md
set -u
dir=$1 guide=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

desktop=$dir/quelvard-kiosk.desktop script=$dir/quelvard-kiosk-session
conf=$dir/50-quelvard-kiosk.conf
desktop-file-validate "$desktop" || fail "desktop-file-validate refuses $desktop"
bash -n "$script" || fail "$script does not parse"
grep -qx 'Exec=/usr/local/bin/quelvard-kiosk-session' "$desktop" ||
    fail "the session does not run the script where the guide installs it"
for file in "$dir"/*; do
    grep -q "install -m 0[67][45][45] $(basename "$file") " "$guide" ||
        fail "the guide does not install $(basename "$file")"
done

# LightDM reads the file as INI: the account logs in at once into the session above.
python3 - "$conf" "$(basename "$desktop" .desktop)" <<'PY' || fail "$conf"
import configparser, sys
ini = configparser.ConfigParser(interpolation=None)
ini.read(sys.argv[1])
seat = ini['Seat:*']
expected = {'autologin-user': 'kiosk', 'autologin-user-timeout': '0',
            'autologin-session': sys.argv[2], 'user-session': sys.argv[2]}
wrong = {key: seat.get(key) for key, value in expected.items() if seat.get(key) != value}
if wrong:
    sys.exit('unexpected values: %s' % wrong)
PY

# The script restarts the browser whenever it ends: a stand-in that ends at once is started
# again until its third run stops the session.
mkdir "$work/bin"
cat >"$work/bin/quelvard" <<'STUB'
#!/usr/bin/env bash
echo run >>"$RUNS"
[ "$(wc -l <"$RUNS")" -lt 3 ] || kill "$PPID"
STUB
printf '#!/bin/sh\n' >"$work/bin/sleep"
printf '#!/bin/sh\n' >"$work/bin/xset"
chmod +x "$work/bin/"*
RUNS=$work/runs PATH=$work/bin:$PATH timeout 20 bash "$script"
[ "$(wc -l <"$work/runs" 2>/dev/null)" = 3 ] || fail "the browser was not started again as it ended"

# Without xset (x11-xserver-utils) the screen would blank with no word why: the session's log
# says what to install, and the browser still starts. Only the tools the script and the
# stand-in use are on the PATH.
mkdir "$work/bare"
for tool in bash env wc; do ln -s "$(command -v "$tool")" "$work/bare/$tool"; done
ln -s "$work/bin/quelvard" "$work/bin/sleep" "$work/bare/"
: >"$work/runs"
RUNS=$work/runs PATH=$work/bare "$(command -v timeout)" 20 "$work/bare/bash" "$script" \
    2>"$work/session.log"
grep -q 'xset is missing.*x11-xserver-utils' "$work/session.log" ||
    fail "without xset the session says nothing: $(cat "$work/session.log")"
[ "$(wc -l <"$work/runs")" = 3 ] || fail "without xset the browser was not started"
: >"$work/runs"
RUNS=$work/runs PATH=$work/bin:$PATH timeout 20 bash "$script" 2>"$work/session.log"
[ -s "$work/session.log" ] && fail "with xset the session still complains: $(cat "$work/session.log")"

[ $failures -eq 0 ] && echo "the kiosk files are valid and fit together"
exit $((failures > 0))
