#!/usr/bin/env bash
# Builds the fuzz targets with clang, libFuzzer, AddressSanitizer and UndefinedBehaviorSanitizer
# in their own folder and runs each in turn for the given time, starting from its seed corpus.
#   fuzz/run.sh [seconds-per-target] [target...]      (default: 60 seconds, every target)
# New inputs go to <build>/corpus/<target>; a failing input is saved as
# <build>/artifacts/<target>-crash-… and makes the script exit non-zero. Copy such an input
# into fuzz/corpus/<target>/ once fixed, so the ordinary test run replays it from then on.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-60}
[ $# -gt 0 ] && shift
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(urlsplit inifile decipher position favorites)
build=${QUELVARD_FUZZ_BUILD_DIR:-build-fuzz}

# Only this script needs clang and its sanitizer runtimes; the ordinary build stays on g++.
missing=()
for package in clang libclang-rt-dev; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" \
        || missing+=("$package")
done
if [ ${#missing[@]} -gt 0 ]; then
    sudo=""
    [ "$(id -u)" -eq 0 ] || sudo="sudo"
    $sudo apt-get update -q
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q --no-install-recommends "${missing[@]}"
fi

cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++ \
    -DQUELVARD_FUZZ=ON -DQUELVARD_BUILD_TESTS=OFF
cmake --build "$build" -j2 --target "${targets[@]/#/fuzz_}"

failed=()
for target in "${targets[@]}"; do
    mkdir -p "$build/corpus/$target" "$build/artifacts"
    echo "== fuzz_$target for ${seconds}s"
    if ! "$build/fuzz/fuzz_$target" -max_total_time="$seconds" -timeout=10 -print_final_stats=1 \
        -artifact_prefix="$build/artifacts/$target-" \
        "$build/corpus/$target" "fuzz/corpus/$target"; then
        failed+=("$target")
    fi
done
if [ ${#failed[@]} -gt 0 ]; then
    echo "Failing inputs found for: ${failed[*]} (see $build/artifacts)" >&2
    exit 1
fi
echo "Nothing found in ${seconds}s per target: ${targets[*]}"
