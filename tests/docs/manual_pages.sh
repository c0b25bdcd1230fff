#!/usr/bin/env bash
# Each manual page renders with every groff warning on and none given.
set -u
status=0
for page in "$@"; do
    warnings=$(groff -ww -man -Tutf8 -z "$page" 2>&1)
    if [ -n "$warnings" ]; then
        echo "$page:"; echo "$warnings"; status=1
    fi
    grep -q '^\.SH NAME' "$page" || { echo "$page: no NAME section"; status=1; }
done
[ $status -eq 0 ] && echo "manual pages render without warnings: $*"
exit $status
