#!/usr/bin/env bash
# The example playbook parses, and the task that sets the login keeps the password out of
# every command line and log: argv with --stdin, the password only on standard input, no_log.
# The policy it templates is one quelvard-admin applies (on a temporary store): "changed" the
# first time, which the apply task reports, and "unchanged" the second.
#   ansible_playbook.sh PLAYBOOK QUELVARD_ADMIN_TESTHIVE
set -u
playbook=$1 admin=$2
export ANSIBLE_LOCAL_TEMP=$(mktemp -d) ANSIBLE_NOCOLOR=1
trap 'rm -rf "$ANSIBLE_LOCAL_TEMP"' EXIT
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
if command.get('argv') != ['quelvard-admin', 'set-login', '--stdin']:
    problems.append('argv is %r' % command.get('argv'))
if 'quelvard_admin_password' not in str(command.get('stdin', '')):
    problems.append('the password is not given on standard input')
if problems:
    sys.exit('the set-login task: ' + '; '.join(problems))
print('set-login task: argv, stdin and no_log as they should be')
PY
python3 - "$playbook" "$ANSIBLE_LOCAL_TEMP/policy.json" <<'PY' || exit 1
import json, sys, yaml
plays = yaml.safe_load(open(sys.argv[1]))
tasks = [t for play in plays for t in play.get('tasks', [])]
copies = [t for t in tasks if (t.get('ansible.builtin.copy') or {}).get('dest') == '/etc/quelvard/policy.json']
applies = [t for t in tasks
           if (t.get('ansible.builtin.command') or {}).get('argv') ==
           ['quelvard-admin', 'apply', '/etc/quelvard/policy.json']]
if len(copies) != 1 or len(applies) != 1:
    sys.exit('expected one task writing /etc/quelvard/policy.json and one applying it')
if '"changed"' not in str(applies[0].get('changed_when')):
    sys.exit('the apply task does not take changed_when from the output')
# What to_nice_json makes of the variable.
json.dump(plays[0]['vars']['quelvard_policy'], open(sys.argv[2], 'w'), indent=4)
PY
export QUELVARD_TEST_MACHINE_DIR=$ANSIBLE_LOCAL_TEMP/machine
for expected in changed unchanged; do
    actual=$("$admin" apply "$ANSIBLE_LOCAL_TEMP/policy.json" 2>&1)
    [ "$actual" = "$expected" ] || { echo "applying the playbook's policy: '$actual', not '$expected'"; exit 1; }
done
echo "the playbook's policy applies: changed, then unchanged"
