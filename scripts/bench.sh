#!/usr/bin/env bash
# Builds the benchmarks in Release and runs them, printing their figures.
# Extra arguments go to the benchmark program, e.g. --benchmark_filter=classify
# or --benchmark_min_time=0.01 for a quick run.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/deps.sh
ensure_packages "${CORE_PACKAGES[@]}" "${BENCH_PACKAGES[@]}"

dir=build/bench
cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=Release -DOSTRAKAN_BENCH=ON -DOSTRAKAN_BUILD_TESTS=OFF >/dev/null
cmake --build "$dir" -j"$(nproc)" --target ostrakan_bench
echo "machine: $(nproc) cores, $(lscpu | sed -n 's/^Model name: *//p' | head -n1)"
"$dir/ostrakan_bench" "$@"
