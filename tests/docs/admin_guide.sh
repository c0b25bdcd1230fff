#!/usr/bin/env bash
# Runs every ```sh block of the administrator's guide, in order and as written, on a
# temporary root: /var/lib, /etc/skel, /etc/quelvard and /home are moved under it, `quelvard-admin` is the
# test copy that keeps its machine store there, and `sudo` only runs its command. Then checks
# that the browser's own readers find what the guide says it set.
#   admin_guide.sh QUELVARD_ADMIN_TESTHIVE GUIDE_PROBE ADMIN.md
set -u
admin=$1 probe=$2 guide=$3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
root=$work/root
mkdir -p "$root/var/lib" "$root/etc/skel" "$root/etc/quelvard" "$root/home/alice" "$work/bin"
export QUELVARD_TEST_MACHINE_DIR=$root/var/lib
# The test copy's users are the folders of the temporary /home, each of them the caller.
export QUELVARD_TEST_HOMES=$root/home
ln -s "$admin" "$work/bin/quelvard-admin"
cat >"$work/bin/sudo" <<'SUDO'
#!/usr/bin/env bash
# Runs the command as the caller: the temporary root needs no one else.
while [ $# -gt 0 ]; do
    case $1 in -u) shift 2 ;; -*) shift ;; *) break ;; esac
done
exec "$@"
SUDO
chmod +x "$work/bin/sudo"
export PATH=$work/bin:$PATH HOME=$root/home/alice
# The password a provisioning script would hold; the interactive set-login is typed these
# answers at a terminal of its own, each once its prompt shows.
export pw='Kiosk-Pass-2024'
printf '%s\n' 'Family-Pass-2024' 'Family-Pass-2024' 'Our first dog?' 'Rex' 'Our street?' 'Elm' \
    >"$work/answers"
cat >"$work/at_terminal.py" <<'PY'
import os, select, subprocess, sys
block, answers, log = sys.argv[1:]
answers = open(answers).read().splitlines()
prompts = ('New administrator password: ', 'Confirm the password: ',
           'First reminder question (empty for none): ', 'Its answer: ',
           'Second reminder question: ')
master, terminal = os.openpty()
child = subprocess.Popen(['bash', '-euo', 'pipefail', block], stdin=terminal, stdout=terminal,
                         stderr=terminal, start_new_session=True)
os.close(terminal)
shown, answered = b'', 0
while True:
    select.select([master], [], [])
    try:
        data = os.read(master, 4096)
    except OSError:
        break
    if not data:
        break
    shown += data
    tail = shown[answered:].decode(errors='replace').rsplit('\n', 1)[-1]
    if tail.endswith(prompts):
        os.write(master, ((answers.pop(0) if answers else '') + '\n').encode())
        answered = len(shown)
open(log, 'wb').write(shown.replace(b'\r', b''))
sys.exit(child.wait())
PY

# Each block, with the machine's folders moved under the temporary root; the guide's policy
# file (its one ```json block) where the guide says it is saved; and what the guide shows
# `urls check` printing (the ```console block after it).
python3 - "$guide" "$work/blocks" "$root" "$work/check.expected" <<'PY'
import os, re, sys
guide, out, root, expected = sys.argv[1:]
text = open(guide).read()
blocks = re.findall(r'^```sh\n(.*?)^```$', text, re.S | re.M)
os.makedirs(out)
for i, block in enumerate(blocks):
    for path in ('/var/lib', '/etc/skel', '/etc/quelvard/', '/home/'):
        block = block.replace(path, root + path)
    open(os.path.join(out, '%02d.sh' % i), 'w').write(block)
open(root + '/etc/quelvard/policy.json', 'w').write(
    re.search(r'^```json\n(.*?)^```$', text, re.S | re.M).group(1))
shown = re.search(r'^```sh\n(quelvard-admin urls check .*?)^```\n\n```console\n(.*?)^```$', text,
                  re.S | re.M)
open(expected, 'w').write(shown.group(1).replace('\\\n', ' ').strip() + '\n' + shown.group(2))
PY
count=$(ls "$work/blocks" | wc -l)
echo "running $count command blocks from $(basename "$guide")"
[ "$count" -ge 6 ] || { echo "FAIL: too few \`\`\`sh blocks found"; exit 1; }
for block in "$work"/blocks/*.sh; do
    if ! python3 "$work/at_terminal.py" "$block" "$work/answers" "$work/out"; then
        echo "FAIL: this block of the guide failed:"; cat "$block"; echo "--- its output:"
        cat "$work/out"; exit 1
    fi
done

failures=0
expect() { # description, expected, actual
    if [ "$2" != "$3" ]; then
        echo "FAIL: $1"; echo "  expected: $2"; echo "  actual:   $3"; failures=$((failures + 1))
    fi
}

# The machine-wide settings, through the same reader the browser uses at start.
status=$(quelvard-admin status 2>&1)
echo "$status"
expect "login" "login set: yes" "$(echo "$status" | grep '^login set:')"
expect "home page" "home page: https://library.example.org/catalogue" \
    "$(echo "$status" | grep '^home page:')"
expect "browsing data" "browsing data: forget" "$(echo "$status" | grep '^browsing data:')"
expect "downloads" "downloads: forbid" "$(echo "$status" | grep '^downloads:')"
expect "user changes" "user changes: forbid" "$(echo "$status" | grep '^user changes:')"
expect "idle reset" "idle reset: 5 minutes" "$(echo "$status" | grep '^idle reset:')"
expect "window" "window: full-screen" "$(echo "$status" | grep '^window:')"
expect "popups for everyone" "popups allowed for everyone: library.example.org" \
    "$(echo "$status" | grep '^popups allowed')"
expect "address lists" "blocked addresses: 1 pattern
allowed addresses: 3 patterns" "$(echo "$status" | grep -E '^(blocked|allowed) addresses:')"
expect "camera" "camera: block" "$(echo "$status" | grep '^camera:')"

# The policy file is what the machine holds now, and what export prints goes back unchanged.
expect "the guide's policy applied again" "unchanged" \
    "$(quelvard-admin apply "$root/etc/quelvard/policy.json" 2>&1)"
quelvard-admin export >"$work/exported.json"
expect "export then apply" "unchanged" "$(quelvard-admin apply "$work/exported.json" 2>&1)"

# urls check answers as the guide shows it.
check_command=$(head -n 1 "$work/check.expected")
expect "urls check" "$(tail -n +2 "$work/check.expected")" "$(eval "$check_command" 2>&1)"
expect "machine store" "machine store: $root/var/lib/Quelvard/registry.db" \
    "$(echo "$status" | grep '^machine store:')"

# The user's own list set with --user: whole domains, any letter case, the port as typed; and
# kept from other users.
expect "alice's store is hers alone" "700 600" \
    "$(stat -c %a "$root/home/alice/.config/Quelvard") $(stat -c %a "$root/home/alice/.config/Quelvard/registry.db")"
expect "alice's popup sites" \
"allowed http://games.example.org/play
allowed https://GAMES.Example.ORG/
allowed http://homework.example.net:8080/upload
blocked http://homework.example.net/upload
blocked http://www.games.example.org/" \
    "$("$probe" popups "$root/home/alice/.config/Quelvard/registry.db" \
        http://games.example.org/play https://GAMES.Example.ORG/ \
        http://homework.example.net:8080/upload http://homework.example.net/upload \
        http://www.games.example.org/)"

# The favorites every user gets, and one user's own.
# The kiosk's policy file, applied last, is the whole policy: its favorites replace the
# classroom's.
expect "shared favorites" \
"Catalogue https://catalogue.example.org/" \
    "$("$probe" favorites "$root/var/lib/Quelvard/Favorites")"
# The kiosk's policy file, applied last, is the whole policy: it leaves the caption at its default.
expect "shared favorites' caption" "shared favorites name: Shared favorites" \
    "$(echo "$status" | grep '^shared favorites name:')"
expect "alice's own favorites" "Games https://games.example.org/" \
    "$("$probe" favorites "$root/home/alice/.local/share/Quelvard")"

[ $failures -eq 0 ] && echo "every command of the guide ran and the browser reads what they set"
exit $((failures > 0))
