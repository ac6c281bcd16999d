# Benchmarks (Debian's libbenchmark-dev): programs that print figures, run by
# scripts/bench.sh, never as tests. Built with -DOSTRAKAN_BENCH=ON.
find_package(benchmark REQUIRED)

add_executable(ostrakan_bench bench/core_bench.cpp)
target_link_libraries(ostrakan_bench PRIVATE ostrakan_core benchmark::benchmark_main)
ostrakan_warnings(ostrakan_bench)
