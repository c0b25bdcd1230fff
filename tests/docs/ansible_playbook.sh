#!/usr/bin/env bash
# The example playbook parses, and the task that sets the login keeps the password out of
# every command line and log: argv with --stdin, the password only on standard input, no_log.
# Then the playbook itself runs, as written but for the install tasks, against this machine
# through a local connection, with quelvard-admin the copy that writes a temporary machine
# store: the first run changes the machine, the second changes nothing (not even the login set
# by hand in between), --check --diff finds a setting changed by hand and leaves it, and a
# policy quelvard-admin refuses fails with quelvard-admin's own message.
#   ansible_playbook.sh PLAYBOOK QUELVARD_ADMIN_TESTHIVE
set -u
playbook=$1 admin=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export ANSIBLE_LOCAL_TEMP=$work/ansible-local ANSIBLE_REMOTE_TEMP=$work/ansible-remote
export ANSIBLE_HOME=$work/ansible ANSIBLE_NOCOLOR=1 ANSIBLE_GATHERING=explicit
export ANSIBLE_RETRY_FILES_ENABLED=0 ANSIBLE_CONFIG=$work/ansible.cfg
if ! command -v ansible-playbook >/dev/null; then
    echo "SKIPPED: the playbook's tests need ansible-core"
    exit 77
fi
: >"$ANSIBLE_CONFIG"
ansible-playbook --syntax-check "$playbook" || exit 1
python3 - "$playbook" <<'PY' || exit 1
import sys, yaml
plays = yaml.safe_load(open(sys.argv[1]))
tasks = [t for play in plays for t in play.get('tasks', [])]
logins = [t for t in tasks
          if 'set-login' in str((t.get('ansible.builtin.command') or {}).get('argv', ''))]
if len(logins) != 1:
    sys.exit('expected one task running quelvard-admin set-login, found %d' % len(logins))
task = logins[0]
command = task['ansible.builtin.command']
problems = []
if task.get('no_log') is not True:
    problems.append('no no_log: true')
if command.get('argv') != ['quelvard-admin', 'set-login', '--stdin', '--if-unset']:
    problems.append('argv is %r' % command.get('argv'))
if 'quelvard_admin_password' not in str(command.get('stdin', '')):
    problems.append('the password is not given on standard input')
if problems:
    sys.exit('the set-login task: ' + '; '.join(problems))
print('set-login task: argv, stdin and no_log as they should be')
PY

# The play's machine is this one, its vault a plain file, its quelvard-admin the test copy.
mkdir -p "$work/play" "$work/bin" "$work/machine"
cp "$playbook" "$work/play/quelvard.yml"
echo 'quelvard_admin_password: "Playbook12"' >"$work/play/quelvard-vault.yml"
printf '[quelvard_machines]\nlocalhost ansible_connection=local ansible_python_interpreter=%s\n' \
    "$(command -v python3)" >"$work/play/inventory"
ln -s "$(readlink -f "$admin")" "$work/bin/quelvard-admin"
export PATH=$work/bin:$PATH QUELVARD_TEST_MACHINE_DIR=$work/machine
hive=$work/machine/Quelvard/registry.db

# Runs the play with any further options; its output is in $work/out, the status returned.
# Under a loaded machine ansible itself now and then loses the set-login task's result (the
# task reports a failure with no message of quelvard-admin's at all); such a run is run again
# once, saying so, and a second loss is a failure like any other.
play() {
    local attempt status
    for attempt in 1 2; do
        (cd "$work/play" && ansible-playbook -i inventory quelvard.yml --skip-tags install \
            -e ansible_become=false -e quelvard_policy_file="$work/etc/quelvard/policy.json" "$@") \
            >"$work/out" 2>&1
        status=$?
        grep -A3 'TASK \[Say why the login was not set\]' "$work/out" | grep -q '"msg": ""' ||
            return $status
        echo "ansible lost the set-login task's result; the play is run again"
    done
    return $status
}
# The "changed=" count of the play's recap.
changed() {
    sed -n 's/^localhost .* changed=\([0-9]*\) .*/\1/p' "$work/out"
}
fail() {
    echo "$1"
    cat "$work/out"
    exit 1
}

play || fail "the first run of the playbook failed"
[ "$(changed)" -gt 0 ] || fail "the first run changed nothing"
"$admin" status | grep -qx 'login set: yes' || fail "the first run set no login"
"$admin" export | grep -q '"idle-reset": "5"' || fail "the first run did not apply the policy"

# A login changed by hand since, with its reminders, is the machine's own.
printf '%s\n' Changed12 Changed12 'Pet?' rex 'Town?' york | "$admin" set-login --stdin ||
    { echo "setting a login by hand failed"; exit 1; }
before=$(sha256sum <"$hive")
play || fail "the second run of the playbook failed"
[ "$(changed)" = 0 ] || fail "the second run changed $(changed) tasks, not none"
[ "$(sha256sum <"$hive")" = "$before" ] || fail "the second run wrote the machine store"
echo "the playbook run twice: changes, then none (the login set by hand kept)"

"$admin" set downloads allow || { echo "changing a setting by hand failed"; exit 1; }
before=$(sha256sum <"$hive")
play --check --diff || fail "the playbook in check mode failed"
[ "$(changed)" = 1 ] || fail "check mode reported $(changed) changes, not the store's one"
grep -q 'downloads: \\"allow\\" -> \\"forbid\\"' "$work/out" ||
    fail "check mode did not show what would change"
[ "$(sha256sum <"$hive")" = "$before" ] || fail "check mode wrote the machine store"
play || fail "the run after a change by hand failed"
"$admin" export | grep -q '"downloads": "forbid"' || fail "the run did not undo the change by hand"
echo "check mode finds a setting changed by hand and leaves it; a run puts it back"

play -e '{"quelvard_policy": {"home_page": "https://a.example/"}}' &&
    fail "a policy quelvard-admin refuses did not fail the play"
grep -q 'unknown key \\"home_page\\" (did you mean \\"home-page\\"?)' "$work/out" ||
    fail "the failed play does not show quelvard-admin's message"
# ... as the reason it failed, not behind an error of the playbook's own conditions.
grep -q 'error while evaluating conditional' "$work/out" &&
    fail "the failed play reports an error of its own conditions"
echo "a refused policy fails the play with quelvard-admin's message"
