# Sourced by the smoke tests after setting `program`: puts the build's machine hive aside (it
# is compiled in, so only a folder inside the build tree is touched, and it is put back on
# exit) and gives the program a fresh, isolated profile under $work.
build=$(cd "$(dirname "$program")" && pwd)
machine=$(sed -n 's/^QUELVARD_MACHINE_DATA_DIR:[A-Z]*=//p' "$build/CMakeCache.txt" 2>/dev/null)
case "$machine" in
    "$build"/*) ;;
    *) echo "machine folder '$machine' is not inside the build tree: not touching it"; exit 0 ;;
esac
hive=$machine/Quelvard/registry.db
work=$(mktemp -d)
if [ -e "$hive" ]; then mv "$hive" "$work/saved-hive.db"; fi
restore() {
    rm -f "$hive"
    if [ -e "$work/saved-hive.db" ]; then mv "$work/saved-hive.db" "$hive"; fi
    rm -rf "$work"
}
trap restore EXIT

export HOME=$work/home XDG_DATA_HOME=$work/home/.local/share XDG_CONFIG_HOME=$work/home/.config \
       XDG_CACHE_HOME=$work/home/.cache XDG_RUNTIME_DIR=$work/run
mkdir -p "$HOME" "$XDG_RUNTIME_DIR" && chmod 700 "$XDG_RUNTIME_DIR"
export QTWEBENGINE_DISABLE_SANDBOX=1 QTWEBENGINE_CHROMIUM_FLAGS=--disable-gpu
unset QT_QPA_PLATFORM
