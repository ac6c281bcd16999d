#!/usr/bin/env bash
# Runs each operation of ostrakan-cli against the paced simulator (replies at
# 9600 baud) several times and prints its median wall time beside its floor:
# the time the tick, the quiet gap and the bytes on the line allow at best
# (docs/performance.md explains the formula). Then the goals, PASS or MISS, and
# the peak memory of provisioning eight units, and the fleet: 32 units from a
# units table, each with its own address, beside one unit from a table.
#
#   bash scripts/bench-ops.sh [--quick] [RUNS]      (RUNS: default 5)
#
# --quick runs only the single reads and writes (a smoke run). A figure over its
# goal is printed as MISS and never fails the script: it prints figures, it is
# no timed test. An operation that does not succeed does (exit 1).
# OSTRAKAN_BENCH_OPS_BUILD=DIR uses the programs already built in DIR.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
. scripts/deps.sh

quick=0
runs=5
for a in "$@"; do
    case $a in
    --quick) quick=1 ;;
    [1-9]*) runs=$a ;;
    *) echo "usage: $0 [--quick] [RUNS]" >&2; exit 2 ;;
    esac
done

ensure_packages "${CORE_PACKAGES[@]}" "${BENCH_OPS_PACKAGES[@]}"
dir=${OSTRAKAN_BENCH_OPS_BUILD:-build/bench-ops}
if [ -z "${OSTRAKAN_BENCH_OPS_BUILD:-}" ]; then
    [ -f "$dir/CMakeCache.txt" ] ||
        cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=Release -DOSTRAKAN_BUILD_TESTS=OFF >/dev/null
    cmake --build "$dir" -j"$(nproc)" --target ostrakan-cli ostrakan-sim >/dev/null
fi
cli=$root/$dir/ostrakan-cli
sim=$root/$dir/ostrakan-sim

tmp=$(mktemp -d /tmp/ostrakan-bench-ops-XXXXXX)
simPid=
cleanup() {
    [ -n "$simPid" ] && kill "$simPid" 2>/dev/null && wait "$simPid" 2>/dev/null
    rm -rf "$tmp"
}
trap cleanup EXIT
mkdir "$tmp/dev" "$tmp/work"
"$sim" --pace --units 32 --link-dir "$tmp/dev" >"$tmp/sim.out" 2>"$tmp/sim.err" &
simPid=$!
for _ in $(seq 200); do [ -e "$tmp/dev/com32" ] && break; sleep 0.05; done
[ -e "$tmp/dev/com32" ] || { cat "$tmp/sim.err" >&2; exit 1; }
export OSTRAKAN_DEVICES=$tmp/dev
cd "$tmp/work"  # modem writes replace _data.ini here
printf 'gdata\n' >password

T=54 G=200 B=1.0417  # tick, quiet gap, one byte at 9600 8N1 (ms)

# The floor of one operation in ms, from its session trace (the exchanges'
# bytes) and the procedure's step structure (ticks). Each exchange of a
# reply-waiting step takes k = ceil(((request + reply bytes) * B + G) / T)
# ticks from the tick that sends to the tick that sees it classified.
#   read:  3 + k                  (click seen, send, k, flag lowered)
#   write: 24                     (click seen, send, 20-tick hold, step 3, flag lowered)
#   query: 23 + sum k             ("+++" then 21 ticks; each wait step sends the next
#                                  command in the tick that sees the reply)
#   setup: 24 + k1 + sum(k + 1)   (pause step, then send; after the first reply each
#                                  wait step hands over to a send step on the next tick)
#   none:  24 + sum(k + 1) - 1    (the last wait step finishes in its own tick)
#   dump:  read for every frame exchange, then query for the modem's
floor_of() {  # model trace
    awk -v model="$1" -v T=$T -v G=$G -v B=$B '
        function k(n) { t = (n * B + G) / T; return (t == int(t)) ? t : int(t) + 1 }
        /^#/ { next }
        $2 == "TX" { n++; tx[n] = 0; rx[n] = 0; frame[n] = ($3 == "0A" && $4 == "21" && $5 == "AA")
                     for (i = 3; i <= NF && substr($i, 1, 1) != "|"; i++) tx[n]++ }
        $2 == "RX" && n { for (i = 3; i <= NF && substr($i, 1, 1) != "|"; i++) rx[n]++ }
        END {
            ticks = 0; m = 0
            if (model == "write") { print 24 * T; exit }
            if (model == "query" || model == "dump") ticks = 23
            if (model == "setup" || model == "none") ticks = 24
            for (i = 1; i <= n; i++) {
                if (!rx[i]) continue            # "+++": no answer, counted in the pause
                if (frame[i]) { ticks += 3 + k(tx[i] + rx[i]); continue }
                m++
                if (model == "setup") ticks += k(tx[i] + rx[i]) + (m > 1)
                else if (model == "none") ticks += k(tx[i] + rx[i]) + 1
                else ticks += k(tx[i] + rx[i])
            }
            if (model == "none") ticks -= 1
            print ticks * T
        }' "$2"
}

median() { sort -n | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

now_ms() { local t=$EPOCHREALTIME; echo "${t/./}" | awk '{ printf "%.1f", $1 / 1000 }'; }

# Runs "$@" once, timed; prints its wall time in ms. A failure ends the script.
timed() {
    local start end status=0
    start=$(now_ms)
    "$@" >"$tmp/out" 2>"$tmp/err" || status=$?
    end=$(now_ms)
    if [ "$status" -ne 0 ]; then
        echo "bench-ops: $* exited $status:" >&2
        cat "$tmp/err" >&2
        exit 1
    fi
    awk -v a="$start" -v b="$end" 'BEGIN { printf "%.1f\n", b - a }'
}

declare -A MEDIAN FLOOR
rows=()
# name floor-ms command...: RUNS timed runs, the median kept.
measure() {
    local name=$1 floor=$2; shift 2
    local times=()
    for _ in $(seq "$runs"); do times+=("$(timed "$@")"); done
    MEDIAN[$name]=$(printf '%s\n' "${times[@]}" | median)
    FLOOR[$name]=$floor
    rows+=("$name")
    printf '  %-28s %9.0f ms  (runs: %s)\n' "$name" "${MEDIAN[$name]}" "${times[*]}" >&2
}

# One traced run gives the bytes of the operation's exchanges (and warms up).
traced_floor() {  # model command...
    local model=$1; shift
    rm -f "$tmp/trace"
    "$cli" --trace-file "$tmp/trace" "$@" >/dev/null 2>&1
    floor_of "$model" "$tmp/trace"
}

c1=(--port COM1)
echo "machine: $(nproc) cores, $(lscpu | sed -n 's/^Model name: *//p' | head -n1); load average:$(cut -d' ' -f1-3 /proc/loadavg)"
echo "build: $dir; runs per operation: $runs; simulator: --pace --units 32"
start_ms=$(timed "$cli" --version)
echo "process start (ostrakan-cli --version): $start_ms ms"

# The unit as it stands, before any write: the profile to restore, and the
# bytes of every read a restore's verification makes.
"$cli" "${c1[@]}" --trace-file "$tmp/dump.trace" dump -o profile.json 2>/dev/null
dump_floor=$(floor_of dump "$tmp/dump.trace")
measure "read period" "$(traced_floor read "${c1[@]}" read period)" "$cli" "${c1[@]}" read period
measure "write period" "$(traced_floor write "${c1[@]}" write period 120)" "$cli" "${c1[@]}" write period 120
measure "read channels" "$(traced_floor read "${c1[@]}" read channels)" "$cli" "${c1[@]}" read channels
wch=(write channels 1:A 2:A 2:T 17:T 31:BX)
measure "write channels" "$(traced_floor write "${c1[@]}" "${wch[@]}")" "$cli" "${c1[@]}" "${wch[@]}"
measure "modem read" "$(traced_floor query "${c1[@]}" modem read)" "$cli" "${c1[@]}" modem read
if [ "$quick" = 0 ]; then
    mw=(modem write --ip 192.0.2.10 --apn internet --user gdata --password-file password)
    measure "modem write" "$(traced_floor setup "${c1[@]}" "${mw[@]}")" "$cli" "${c1[@]}" "${mw[@]}"
    measure "modem write --no-internet" "$(traced_floor none "${c1[@]}" modem write --no-internet)" \
        "$cli" "${c1[@]}" modem write --no-internet
    # The whole unit: the dump made first, edited, written back and verified.
    # Its floor: six writes, the modem's full path, and every read of a dump.
    sed -e 's/"period": "[0-9]*"/"period": "120"/' -e 's/"address": "[0-9]*"/"address": "042"/' \
        profile.json >restore.json
    grep -q '"period": "120"' restore.json
    wfloor=$((24 * T))
    restore_floor=$(awk -v w="$wfloor" -v m="${FLOOR[modem write]}" -v d="$dump_floor" \
        'BEGIN { print 6 * w + m + d }')
    measure "restore (verified)" "$restore_floor" "$cli" "${c1[@]}" restore restore.json
    ports=COM1
    for n in 1 4 8; do
        [ "$n" = 1 ] || ports=$(seq -s, -f 'COM%g' 1 "$n")
        measure "provision $n" "$restore_floor" "$cli" provision restore.json --ports "$ports"
    done
    /usr/bin/time -v "$cli" provision restore.json --ports "$ports" 2>"$tmp/time" >/dev/null
    peak_kb=$(sed -n 's/.*Maximum resident set size (kbytes): *//p' "$tmp/time")
    # The fleet: a units table gives each unit its own address (001, 002, ...).
    printf 'port,controller.address\nCOM1,001\n' >units1.csv
    { printf 'port,controller.address\n'; for n in $(seq 32); do printf 'COM%d,%03d\n' "$n" "$n"; done; } >units32.csv
    measure "provision table 1" "$restore_floor" "$cli" provision restore.json --units units1.csv
    measure "provision table 32" "$restore_floor" "$cli" provision restore.json --units units32.csv
    /usr/bin/time -v "$cli" provision restore.json --units units32.csv 2>"$tmp/time32" >/dev/null
    peak32_kb=$(sed -n 's/.*Maximum resident set size (kbytes): *//p' "$tmp/time32")
fi

echo
printf '| %-26s | %9s | %9s | %6s |\n' "Operation" "Median ms" "Floor ms" "Ratio"
printf '|%s|%s|%s|%s|\n' "----------------------------" "-----------" "-----------" "--------"
for r in "${rows[@]}"; do
    printf '| %-26s | %9.0f | %9.0f | %6.3f |\n' "$r" "${MEDIAN[$r]}" "${FLOOR[$r]}" \
        "$(awk -v a="${MEDIAN[$r]}" -v b="${FLOOR[$r]}" 'BEGIN { print a / b }')"
done

echo
verdict() { awk "BEGIN { exit !($1) }" && echo PASS || echo MISS; }
worst=; for r in "${rows[@]}"; do
    case $r in provision*|restore*) continue ;; esac
    ratio=$(awk -v a="${MEDIAN[$r]}" -v b="${FLOOR[$r]}" 'BEGIN { print a / b }')
    [ "$(verdict "$ratio <= 1.10")" = PASS ] || worst+="$r ($ratio) "
done
echo "goal: each single operation within 10 % of its floor: $([ -z "$worst" ] && echo PASS || echo "MISS: $worst")"
if [ "$quick" = 0 ]; then
    rs=${MEDIAN[restore (verified)]}
    echo "goal: whole-unit restore with verification under 20 s: $(verdict "$rs < 20000") ($(awk -v a="$rs" 'BEGIN { printf "%.2f", a / 1000 }') s)"
    p1=${MEDIAN[provision 1]} p8=${MEDIAN[provision 8]}
    echo "goal: provisioning 8 units within 1.2 x one unit: $(verdict "$p8 <= 1.2 * $p1") ($(awk -v a="$p8" -v b="$p1" 'BEGIN { printf "%.3f", a / b }') x)"
    echo "goal: peak memory of provision with 8 ports under 16 MB: $(verdict "$peak_kb < 16384") ($peak_kb KB max RSS)"
    t1=${MEDIAN[provision table 1]} t32=${MEDIAN[provision table 32]}
    echo "goal: 32 units from a table within 1.2 x one unit: $(verdict "$t32 <= 1.2 * $t1") ($(awk -v a="$t32" -v b="$t1" 'BEGIN { printf "%.3f", a / b }') x)"
    echo "goal: peak memory of provision with 32 units under 16 MB: $(verdict "$peak32_kb < 16384") ($peak32_kb KB max RSS)"
fi
echo "load average after:$(cut -d' ' -f1-3 /proc/loadavg)"
