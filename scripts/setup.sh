#!/usr/bin/env bash
# Installs the Debian 12 packages Quelvard needs (only those missing), then configures and
# builds it in ./build. A build made here keeps its machine-wide data in build/machine, so a
# developer who is not root gets a working first run.
set -euo pipefail
cd "$(dirname "$0")/.."

packages=(
    cmake g++ make pkg-config
    qt6-base-dev qt6-webengine-dev qt6-tools-dev libqt6opengl6-dev libgl-dev libqt6svg6
    libsqlite3-dev sqlite3 libxcb1-dev
    xvfb xauth xdotool x11-utils openbox iproute2 python3 fonts-dejavu-core ghostscript
    # The download benchmark's yardstick.
    curl
    # The formatting check.
    clang-format
    # Packaging and its checks: icons, the package, the menu and software-centre entries, the
    # manual pages, the example playbook and Debian's package checks.
    librsvg2-bin dpkg-dev file desktop-file-utils appstream groff-base ansible-core lintian
)
missing=()
for package in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" \
        || missing+=("$package")
done
if [ ${#missing[@]} -gt 0 ]; then
    echo "Installing: ${missing[*]}"
    sudo=""
    [ "$(id -u)" -eq 0 ] || sudo="sudo"
    $sudo apt-get update -q
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q --no-install-recommends "${missing[@]}"
fi

build=${QUELVARD_BUILD_DIR:-build}
# Any compiler warning stops the build (QUELVARD_WARNINGS_AS_ERRORS=OFF in the environment
# lets a developer on a newer compiler build anyway).
# A developer's build, which scripts/start.sh also runs as root (with the sandbox off).
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DQUELVARD_MACHINE_DATA_DIR="$(pwd)/$build/machine" -DQUELVARD_ALLOW_ROOT=ON \
    -DQUELVARD_WARNINGS_AS_ERRORS="${QUELVARD_WARNINGS_AS_ERRORS:-ON}"
cmake --build "$build" -j"$(nproc)"
