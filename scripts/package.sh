#!/usr/bin/env bash
# Builds the Debian package quelvard_<version>_<arch>.deb: a Release build of its own, without
# tests, whose machine-wide data folder is /var/lib. Prints the package's path.
#   scripts/package.sh [BUILD_FOLDER]     (default: build-package)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build-package}
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DQUELVARD_BUILD_TESTS=OFF \
    -DQUELVARD_MACHINE_DATA_DIR=/var/lib >&2
cmake --build "$build" -j"${QUELVARD_JOBS:-$(nproc)}" >&2
rm -f "$build"/quelvard_*.deb
(cd "$build" && cpack -G DEB >&2)
ls "$(cd "$build" && pwd)"/quelvard_*.deb
