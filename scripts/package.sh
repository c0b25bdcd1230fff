#!/usr/bin/env bash
# Builds the Debian package quelvard_<version>_<arch>.deb: a Release build of its own, without
# tests, whose machine-wide data folder is /var/lib. Prints the package's path.
#   scripts/package.sh [BUILD_FOLDER]     (default: build-package)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build-package}
# Debian's hardening (fortified functions, a stack protector, relocations made read-only and
# bound at start), without the debugging information the package strips anyway.
export DEB_BUILD_MAINT_OPTIONS=hardening=+all
cxxflags="$(dpkg-buildflags --get CPPFLAGS) $(dpkg-buildflags --get CXXFLAGS | sed 's/\(^\| \)-g\( \|$\)/ /')"
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DQUELVARD_BUILD_TESTS=OFF -DQUELVARD_ALLOW_ROOT=OFF \
    -DQUELVARD_MACHINE_DATA_DIR=/var/lib -DCMAKE_CXX_FLAGS="$cxxflags" \
    -DCMAKE_EXE_LINKER_FLAGS="$(dpkg-buildflags --get LDFLAGS)" >&2
cmake --build "$build" -j"${QUELVARD_JOBS:-$(nproc)}" >&2
rm -f "$build"/quelvard_*.deb
(cd "$build" && cpack -G DEB >&2)
ls "$(cd "$build" && pwd)"/quelvard_*.deb
