#!/usr/bin/env bash
# The example playbook parses, and the task that sets the login keeps the password out of
# every command line and log: argv with --stdin, the password only on standard input, no_log.
set -u
playbook=$1
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
