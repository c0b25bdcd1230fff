# Sourced by the smoke tests after setting `program` (the quelvard-testbin executable): gives
# the program a fresh profile and a machine folder of its own under $work, removed on exit.
# The test build takes its machine folder from QUELVARD_TEST_MACHINE_DATA_DIR, so no smoke test
# reads or writes the machine folder a real start uses, even when it is killed half-way.
case "$(basename "$program")" in
    quelvard-testbin) ;;
    *) echo "'$program' is not the test build of the program (quelvard-testbin): not running it"
       exit 1 ;;
esac
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export QUELVARD_TEST_MACHINE_DATA_DIR=$work/machine
machine_hive=$QUELVARD_TEST_MACHINE_DATA_DIR/Quelvard/registry.db
mkdir -p "$(dirname "$machine_hive")"

export HOME=$work/home XDG_DATA_HOME=$work/home/.local/share XDG_CONFIG_HOME=$work/home/.config \
       XDG_CACHE_HOME=$work/home/.cache XDG_RUNTIME_DIR=$work/run
user_hive=$XDG_CONFIG_HOME/Quelvard/registry.db
mkdir -p "$HOME" "$XDG_RUNTIME_DIR" && chmod 700 "$XDG_RUNTIME_DIR"
export QTWEBENGINE_DISABLE_SANDBOX=1 QTWEBENGINE_CHROMIUM_FLAGS=--disable-gpu
unset QT_QPA_PLATFORM

# Seeds an administrator login in this run's machine hive, so the first-run login form does
# not stand before the main window.
seed_admin_login() {
    sqlite3 "$machine_hive" <<'SQL'
CREATE TABLE reg_keys (path TEXT NOT NULL PRIMARY KEY COLLATE NOCASE);
CREATE TABLE reg_values (key TEXT NOT NULL COLLATE NOCASE, name TEXT NOT NULL COLLATE NOCASE,
  type INTEGER NOT NULL, data BLOB, PRIMARY KEY (key, name));
INSERT INTO reg_keys VALUES ('Software'), ('Software\Microsoft'), ('Software\Microsoft\Rowen');
INSERT INTO reg_values VALUES ('Software\Microsoft\Rowen', 'Level', 1, 'lioacncnbppebhgo');
SQL
}
