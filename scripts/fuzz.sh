#!/usr/bin/env bash
# Builds the libFuzzer targets in fuzz/ under AddressSanitizer and
# UndefinedBehaviorSanitizer (build/fuzz) and runs each in turn on a copy of its
# seed corpus (fuzz/corpus/<target>), then prints per target the executions,
# exec/s and coverage from libFuzzer's final statistics.
#
# Usage: scripts/fuzz.sh [SECONDS]        each target for SECONDS (default 60)
#        scripts/fuzz.sh --runs N         each target for N executions (CI)
# Optional target names after the budget pick targets. Logs and any crashing
# input land in build/fuzz/logs and build/fuzz/artifacts.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/deps.sh
ensure_packages "${FUZZ_PACKAGES[@]}"

budget=(-max_total_time=60)
if [ "${1:-}" = "--runs" ]; then
    budget=(-runs="${2:?--runs needs a number}")
    shift 2
elif [[ "${1:-}" =~ ^[0-9]+$ ]]; then
    budget=(-max_total_time="$1")
    shift
fi
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(fuzz_reply_classifier fuzz_settings fuzz_sim_requests fuzz_profile fuzz_trace_reader)

# Longest input each target reads: a 600-byte burst, its stale bytes and three
# field texts; a settings file past the 100 bytes read; a few bursts of requests;
# a whole profile (about 3 KiB); a few trace lines or bursts.
declare -A max_len=([fuzz_reply_classifier]=2048 [fuzz_settings]=512 [fuzz_sim_requests]=1024
                    [fuzz_profile]=4096 [fuzz_trace_reader]=2048)

out=build/fuzz
cmake -S . -B "$out" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++-14 \
    -DOSTRAKAN_FUZZ=ON -DOSTRAKAN_BUILD_TESTS=OFF >/dev/null
cmake --build "$out" -j2 --target "${targets[@]}"

# No fill of new allocations and a small quarantine: the targets allocate (stdio
# buffers, strings) on every input, and page faults would otherwise dominate.
export ASAN_OPTIONS=${ASAN_OPTIONS:-max_malloc_fill_size=0:quarantine_size_mb=16}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1}

root=$(pwd)
mkdir -p "$out/logs" "$out/artifacts"
summary=()
for t in "${targets[@]}"; do
    work="$out/corpus/$t"
    rm -rf "$work"
    mkdir -p "$work"
    cp fuzz/corpus/"$t"/* "$work"/
    log="$out/logs/$t.log"
    echo "== $t (${budget[*]})"
    if ! "$out/$t" "${budget[@]}" -print_final_stats=1 -max_len="${max_len[$t]}" \
            -artifact_prefix="$root/$out/artifacts/$t-" "$root/$work" >"$log" 2>&1; then
        tail -n 40 "$log"
        echo "$t FAILED; the input is in $out/artifacts, the log in $log" >&2
        exit 1
    fi
    execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
    rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log")
    cov=$(grep -o 'cov: [0-9]* ft: [0-9]*' "$log" | tail -n 1)
    summary+=("$(printf '%-22s execs %-10s exec/s %-7s %s' "$t" "$execs" "$rate" "$cov")")
done
printf '%s\n' "${summary[@]}"
