#!/usr/bin/env bash
# An import killed at any point leaves the lists a browser reads as they were: the category as
# it stood before, or the new one whole, and never a compiled file that cannot be used.
#   import_killed.sh QUELVARD_ADMIN_TESTHIVE
set -u
admin=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export QUELVARD_TEST_MACHINE_DIR=$work/machine
mkdir -p "$QUELVARD_TEST_MACHINE_DIR" "$work/old" "$work/new"
echo old.example > "$work/old/domains"
python3 -c '
import sys
with open(sys.argv[1], "w") as out:
    out.write("new.example\n")
    for i in range(400000):
        out.write("host%d.example\n" % i)
' "$work/new/domains"

status=0
for delay in 0.02 0.1 0.3 0.6 1 1.5 2.5; do
    "$admin" urls import --block --category adult "$work/old" >/dev/null || { echo "the first import failed"; exit 1; }
    "$admin" urls import --block --category adult "$work/new" >/dev/null 2>&1 &
    pid=$!
    sleep "$delay"
    kill -9 $pid 2>/dev/null
    wait $pid 2>/dev/null
    checked=$("$admin" urls check http://old.example/ http://new.example/ 2>&1)
    categories=$("$admin" urls categories 2>&1)
    old_lists="blocked http://old.example/ by the category \"adult\"
allowed http://new.example/ (no rule matches)"
    new_lists="allowed http://old.example/ (no rule matches)
blocked http://new.example/ by the category \"adult\""
    if [ "$checked" = "$old_lists" ] && [ "$categories" = "adult block 1" ]; then
        echo "killed after ${delay}s: the previous lists stand"
    elif [ "$checked" = "$new_lists" ] && [ "$categories" = "adult block 400001" ]; then
        echo "killed after ${delay}s: the new lists stand, whole"
    else
        echo "killed after ${delay}s: the lists are neither the old nor the new:"
        echo "$checked"; echo "$categories"
        status=1
    fi
done
exit $status
