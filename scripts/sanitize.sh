#!/usr/bin/env bash
# Builds the test suites with AddressSanitizer and UndefinedBehaviorSanitizer in build-asan/ and
# runs them headless; any memory error or undefined behaviour fails the test it happens in.
#   scripts/sanitize.sh                  every suite (slow: each web-engine suite takes minutes)
#   scripts/sanitize.sh -R 'tst_(registry|inifile)'     only the suites named (ctest arguments)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${QUELVARD_ASAN_BUILD_DIR:-build-asan}

cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUELVARD_SANITIZE=ON \
    -DQUELVARD_MACHINE_DATA_DIR="$(pwd)/$build/machine"
# Only what the chosen suites need is built.
mapfile -t suites < <(cd "$build" && ctest -N "$@" | sed -n 's/^ *Test *#[0-9]*: \(.*\)$/\1/p')
targets=()
for suite in "${suites[@]}"; do
    case "$suite" in
    fuzz_corpus_*) targets+=("fuzz_${suite#fuzz_corpus_}") ;;
    smoke_* | attack_*) targets+=(quelvard-testbin quelvard-testseed drag_source) ;;
    *) targets+=("$suite") ;;
    esac
done
[ ${#targets[@]} -gt 0 ] || { echo "No suite matches: $*" >&2; exit 1; }
cmake --build "$build" -j2 --target $(printf '%s\n' "${targets[@]}" | sort -u)

export QT_QPA_PLATFORM=offscreen QTWEBENGINE_DISABLE_SANDBOX=1
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=0:abort_on_error=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
cd "$build"
ctest --output-on-failure --timeout 1800 "$@"
