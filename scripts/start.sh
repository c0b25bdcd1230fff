#!/usr/bin/env bash
# Sets up, builds and starts Quelvard.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
if [ "$(id -u)" -eq 0 ]; then
    # The web engine refuses to start its sandbox as root; the program never turns it off itself.
    echo "Running as root: QTWEBENGINE_DISABLE_SANDBOX=1 is set for this run only."
    export QTWEBENGINE_DISABLE_SANDBOX=1
fi
exec "${QUELVARD_BUILD_DIR:-build}/quelvard"
