#!/usr/bin/env bash
# Builds the Debian package as scripts/package.sh does and checks what it would install:
# every file where a desktop looks for it, valid menu and software-centre entries, no way in
# for a typed address, the machine folder of a packaged build, its dependencies, and nothing
# lintian calls an error or a warning.
#   package_deb.sh BUILD_FOLDER
# A check this machine cannot make says so, and the whole run then counts as skipped (exit 77).
set -u
source_dir=$(cd "$(dirname "$0")/../.." && pwd)
started=$(date +%s)
deb=$(bash "$source_dir/scripts/package.sh" "$1" | tail -n 1) || { echo "packaging failed"; exit 1; }
echo "built $deb in $(( $(date +%s) - started )) s"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0 skipped=
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

version=$(sed -n 's/^project(Quelvard VERSION \([0-9.]*\).*/\1/p' "$source_dir/CMakeLists.txt")
expected_name="quelvard_${version}_$(dpkg --print-architecture).deb"
[ "$(basename "$deb")" = "$expected_name" ] || fail "package named $(basename "$deb"), not $expected_name"

dpkg-deb -x "$deb" "$work/root" || { echo "dpkg-deb -x failed"; exit 1; }
dpkg-deb -e "$deb" "$work/control" || { echo "dpkg-deb -e failed"; exit 1; }
root=$work/root

for program in quelvard quelvard-admin; do
    [ -x "$root/usr/bin/$program" ] || fail "usr/bin/$program missing or not executable"
done
others=$(ls "$root/usr/bin" | grep -vx -e quelvard -e quelvard-admin)
libs=$(cd "$root/usr/lib" 2>/dev/null && find . -type f | grep -vx ./sysusers.d/quelvard-keeper.conf)
[ -z "$others" ] && [ -z "$libs" ] || fail "more than the two programs installed: $others $libs"
# The time keeper: its program, the account it runs as, and the socket systemd starts it from.
[ -x "$root/usr/sbin/quelvard-keeper" ] || fail "usr/sbin/quelvard-keeper missing or not executable"
for file in lib/systemd/system/quelvard-keeper.socket lib/systemd/system/quelvard-keeper.service \
    usr/lib/sysusers.d/quelvard-keeper.conf; do
    [ -f "$root/$file" ] || fail "$file missing"
done
grep -qx 'ExecStart=/usr/sbin/quelvard-keeper' "$root/lib/systemd/system/quelvard-keeper.service" 2>/dev/null \
    || fail "the keeper's service does not start usr/sbin/quelvard-keeper"
grep -q 'systemd-sysusers quelvard-keeper.conf' "$work/control/postinst" 2>/dev/null \
    && grep -q 'enable --now quelvard-keeper.socket' "$work/control/postinst" \
    || fail "postinst does not create the keeper's account and enable its socket"
desktop=$root/usr/share/applications/quelvard.desktop
metainfo=$root/usr/share/metainfo/org.quelvard.Quelvard.metainfo.xml
for file in "$desktop" "$metainfo" \
    "$root/usr/share/icons/hicolor/scalable/apps/quelvard.svg" \
    "$root/usr/share/doc/quelvard/ADMIN.md" "$root/usr/share/doc/quelvard/examples/quelvard.yml"; do
    [ -f "$file" ] || fail "${file#"$root"/} missing"
done
# The installed guide's kiosk set-up is done from the folder its link names, with the session
# script still executable there.
kiosk=$root/usr/share/doc/quelvard/examples/kiosk
for file in 50-quelvard-kiosk.conf quelvard-kiosk.desktop quelvard-kiosk-session; do
    [ -f "$kiosk/$file" ] || fail "usr/share/doc/quelvard/examples/kiosk/$file missing"
    grep -q "install -m 0[67][45][45] $file " "$root/usr/share/doc/quelvard/ADMIN.md" ||
        fail "the installed guide does not install $file"
done
[ -x "$kiosk/quelvard-kiosk-session" ] || fail "the kiosk session script is not executable"
grep -q 'examples/kiosk/' "$root/usr/share/doc/quelvard/ADMIN.md" ||
    fail "the installed guide does not name the kiosk folder"
for size in 16 32 48 64 128 256; do
    png=$root/usr/share/icons/hicolor/${size}x${size}/apps/quelvard.png
    file -b "$png" 2>/dev/null | grep -q "PNG image data, $size x $size," \
        || fail "${png#"$root"/} missing or not $size pixels square"
done
for page in quelvard quelvard-admin; do
    man=$root/usr/share/man/man1/$page.1.gz
    gzip -t "$man" 2>/dev/null || fail "${man#"$root"/} missing or not gzip"
done

desktop-file-validate "$desktop" || fail "desktop-file-validate"
appstreamcli validate --no-net "$metainfo" >"$work/appstream.log" 2>&1 \
    || { cat "$work/appstream.log"; fail "appstreamcli validate"; }
# The menu entry must not hand the program an address nor offer it as a link handler.
grep -qx 'Exec=quelvard' "$desktop" || fail "Exec is not the bare program: $(grep ^Exec= "$desktop")"
grep -q '^MimeType=' "$desktop" && fail "the desktop entry claims MIME types"
# The window's class, which the dock matches against StartupWMClass, is the application name.
grep -qx 'StartupWMClass=Quelvard' "$desktop" || fail "StartupWMClass is not Quelvard"

# A packaged build keeps its machine store in /var/lib, never in a build tree.
store=$("$root/usr/bin/quelvard-admin" status 2>/dev/null | sed -n 's/^machine store: //p')
[ "$store" = /var/lib/Quelvard/registry.db ] || fail "packaged machine store is '$store'"
grep -q 'install -d -o root -g root -m 0755 "/var/lib/Quelvard"' "$work/control/postinst" 2>/dev/null \
    || fail "postinst does not create /var/lib/Quelvard for root, mode 0755"
grep -q 'rm -rf' "$work/control/postrm" 2>/dev/null && ! grep -q '"\$1" = purge' "$work/control/postrm" \
    && fail "postrm removes the machine folder on more than a purge"

info=$(dpkg-deb -I "$deb")
echo "$info" | sed -n '/^ Package:/,$p'
depends=$(echo "$info" | sed -n 's/^ Depends: //p')
# The engine, its helper process and SQLite come from the linked libraries; the SVG plugin and
# the font are loaded at run time and must be named by hand.
for package in libqt6webenginecore6 libsqlite3-0 libqt6webenginecore6-bin libqt6svg6 fonts-dejavu-core; do
    echo "$depends" | tr ',' '\n' | sed 's/^ *//; s/ .*//' | grep -qx "$package" \
        || fail "Depends lacks $package"
done
# The kiosk session keeps the screen on with xset.
echo "$info" | sed -n 's/^ Recommends: //p' | tr ',' '\n' | sed 's/^ *//; s/ .*//' \
    | grep -qx x11-xserver-utils || fail "Recommends lacks x11-xserver-utils (xset)"
echo "$info" | grep -qx ' Section: web' || fail "section is not web"
echo "$info" | grep -q '^ Maintainer: .' || fail "no maintainer"
echo "$info" | grep -q '^ Homepage:' && fail "a homepage is named"

# The installed browser refuses root in words, before the engine starts (and so before it
# needs an X server).
if [ "$(id -u)" -eq 0 ]; then
    # A program that does start is stopped, and its words are then not the refusal.
    said=$(timeout 30 env -u QTWEBENGINE_DISABLE_SANDBOX "$root/usr/bin/quelvard" 2>&1 </dev/null)
    code=$?
    [ "$code" -ne 0 ] || fail "the packaged quelvard started as root (exit 0)"
    [ "$said" = "Quelvard does not run as root: start it from an ordinary account." ] ||
        fail "the packaged quelvard, started by root, said: $said"
    # Even with the engine's sandbox turned off by hand.
    said=$(QTWEBENGINE_DISABLE_SANDBOX=1 timeout 30 "$root/usr/bin/quelvard" 2>&1 </dev/null)
    [ "$said" = "Quelvard does not run as root: start it from an ordinary account." ] ||
        fail "the packaged quelvard, started by root with the sandbox off, said: $said"
else
    skipped="refusing root needs this test run as root"
fi

# Debian's own checks, errors and warnings alike (a root run only adds a note on stderr).
if command -v lintian >/dev/null; then
    lintian --fail-on error,warning "$deb" 2>"$work/lintian.err" || {
        grep -v 'running with root privileges' "$work/lintian.err"
        fail "lintian reports errors or warnings"
    }
else
    fail "lintian is not installed (scripts/setup.sh installs it)"
fi

[ $failures -eq 0 ] || exit 1
[ -z "$skipped" ] || { echo "SKIPPED: $skipped; the other package checks passed"; exit 77; }
echo "package checks passed in $(( $(date +%s) - started )) s"
