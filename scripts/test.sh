#!/usr/bin/env bash
# Sets up, builds and runs the whole test suite headless.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
export QT_QPA_PLATFORM=offscreen QTWEBENGINE_DISABLE_SANDBOX=1
cd "${QUELVARD_BUILD_DIR:-build}"
ctest --output-on-failure --timeout 600 -j2 --label-exclude package
# Building the package is a Release build of everything in a folder of its own: alone and last.
ctest --output-on-failure --label-regex package
