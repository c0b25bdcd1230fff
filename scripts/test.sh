#!/usr/bin/env bash
# Sets up, builds and runs the whole test suite headless.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
export QT_QPA_PLATFORM=offscreen QTWEBENGINE_DISABLE_SANDBOX=1
cd "${QUELVARD_BUILD_DIR:-build}"
ctest --output-on-failure --timeout 600 -j2
