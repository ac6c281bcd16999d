#!/usr/bin/env bash
# Builds everything and runs every test: native, under AddressSanitizer and
# UndefinedBehaviorSanitizer, under ThreadSanitizer, a short run of the
# benchmarks and of the operations against the paced simulator, and the
# Windows builds, the browser edition (node and Chromium); then the release packages.
# Installs what is missing first (Debian, as root).
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/deps.sh
ensure_packages "${CORE_PACKAGES[@]}" "${MINGW_PACKAGES[@]}" "${BENCH_PACKAGES[@]}" "${BENCH_OPS_PACKAGES[@]}"

jobs=$(nproc)

build_and_test() {  # dir, extra cmake args...
    local dir=$1; shift
    cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=Debug "$@" >/dev/null
    cmake --build "$dir" -j"$jobs"
    ctest --test-dir "$dir" --output-on-failure -j"$jobs"
}

echo "== native"
build_and_test build/native
echo "== address and undefined-behaviour sanitizers"
build_and_test build/asan -DCMAKE_CXX_FLAGS="-fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer"
echo "== thread sanitizer"
build_and_test build/tsan -DCMAKE_CXX_FLAGS="-fsanitize=thread -fno-omit-frame-pointer"

# The benchmarks only have to build and run: a smoke step, their figures are not judged.
echo "== benchmarks (smoke run)"
bash scripts/bench.sh --benchmark_min_time=0.01

echo "== fuzzing (short: a fixed number of runs per target)"
bash scripts/fuzz.sh --runs 20000

# The single operations against the paced simulator, once each, with the native
# build's programs: a smoke step of bench-ops.sh (about 20 s), its figures not judged.
echo "== operations against the paced simulator (smoke run)"
OSTRAKAN_BENCH_OPS_BUILD=build/native bash scripts/bench-ops.sh --quick 1

echo "== Windows builds (mingw-w64)"
for arch in x86_64 i686; do
    cmake -S . -B "build/mingw-$arch" -DCMAKE_BUILD_TYPE=Release \
        -DCMAKE_TOOLCHAIN_FILE="cmake/mingw-w64-$arch.cmake" >/dev/null
    cmake --build "build/mingw-$arch" -j"$jobs"
done
# The Windows program under Wine, against the simulator.
if [ -f scripts/test-wine.sh ]; then
    echo "== Windows program under Wine"
    bash scripts/test-wine.sh
fi
echo "== ostrakan-cli.exe under Wine"
bash scripts/test-wine-cli.sh
# The release artefacts: built into dist/, their contents checked, the .deb
# installed, tried and removed.
# The browser edition: node tests of its WebAssembly build, then the page in
# Chromium against the simulator through a WebSocket relay (about a minute).
echo "== browser edition"
bash scripts/test-web.sh

echo "== release packages"
bash scripts/package.sh
bash scripts/check-package.sh
echo "all tests passed"
