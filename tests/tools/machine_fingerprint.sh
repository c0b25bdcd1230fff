#!/usr/bin/env bash
# Guards the build's machine folder (the one scripts/start.sh uses) across the whole suite:
# `record` notes what it holds before the first test, `check` fails when the last test finds it
# different (a file added, removed or changed; absent stays absent).
#   machine_fingerprint.sh record|check <machine folder> <build folder> <fingerprint file>
set -u
mode=$1 machine=$2 build=$3 saved=$4

# A machine folder inside the build tree is the build's own and is compared whole; a shared one
# (such as /var/lib) only in the program's own folders there.
[ -n "$machine" ] || machine=$build
machine=${machine%/}
case "$machine" in
    "${build%/}"/*) folders=("$machine") ;;
    *) folders=("$machine/Quelvard" "$machine/ZMT") ;;
esac

fingerprint() {
    local folder
    for folder in "${folders[@]}"; do
        echo "== $folder"
        if [ ! -e "$folder" ]; then
            echo absent
            continue
        fi
        (
            cd "$folder" || exit 1
            find . -printf '%y %m %p -> %l\n' | LC_ALL=C sort
            find . -type f -print0 | LC_ALL=C sort -z | xargs -0 -r sha256sum
        )
    done
}

case "$mode" in
    record)
        fingerprint >"$saved" || exit 1
        echo "machine folder before the suite:"
        cat "$saved"
        ;;
    check)
        if [ ! -f "$saved" ]; then
            echo "no fingerprint recorded before the suite ($saved)"
            exit 1
        fi
        if ! fingerprint | diff -u "$saved" -; then
            echo "the suite changed the build's machine folder $machine (see the difference above)"
            exit 1
        fi
        echo "the machine folder is as it was before the suite"
        ;;
    *)
        echo "usage: $0 record|check <machine folder> <build folder> <fingerprint file>"
        exit 2
        ;;
esac
