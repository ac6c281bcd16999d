#!/usr/bin/env bash
# Builds the tools and runs the command-line tool against the simulated device:
# once with the built-in one (--port sim), then against ostrakan-sim on a
# pseudo-terminal, reading and writing a parameter, a phone number, the channels
# and the modem. Installs what is missing first (Debian, as root).
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/deps.sh
ensure_packages "${CORE_PACKAGES[@]}"

cmake -S . -B build/native >/dev/null
cmake --build build/native -j"$(nproc)" --target ostrakan-cli ostrakan-sim >/dev/null
cli=$PWD/build/native/ostrakan-cli
sim=$PWD/build/native/ostrakan-sim

# "_data.ini" lives in the current directory, as with the window: use a scratch one.
run=$PWD/build/run-cli
rm -rf "$run"
mkdir -p "$run"
cd "$run"

step() {
    echo "\$ ostrakan-cli $*"
    set +e
    "$cli" "$@"
    local status=$?
    set -e
    echo "  (exit $status)"
}

echo "== the built-in simulated device"
step --port sim read period
step --port sim read phone1

echo
echo "== ostrakan-sim on a pseudo-terminal, linked as $run/ttySIM"
"$sim" --link "$run/ttySIM" --trace-file "$run/trace.log" >"$run/sim.out" 2>"$run/sim.err" &
sim_pid=$!
trap 'kill $sim_pid 2>/dev/null; wait $sim_pid 2>/dev/null || true' EXIT
for _ in $(seq 100); do [ -e "$run/ttySIM" ] && break; sleep 0.05; done
echo "simulator serving $(head -n1 "$run/sim.out")"
port=(--port "$run/ttySIM")

step "${port[@]}" read period
step "${port[@]}" write period 120
step "${port[@]}" read period
step "${port[@]}" write phone1 89991234567
step "${port[@]}" read phone1
step "${port[@]}" write channels 1:A 2:T 17:BX 31:A 31:BX
step "${port[@]}" read channels
step "${port[@]}" modem read
step "${port[@]}" modem write --ip 203.0.113.7 --apn demo.apn --user demo --password secret
echo "_data.ini now holds:"
sed 's/^/  /' _data.ini; echo
step "${port[@]}" modem read
echo "== the same port under its COM name (OSTRAKAN_DEVICES=$run, link com4)"
ln -sf "$run/ttySIM" "$run/com4"
OSTRAKAN_DEVICES=$run step --port COM4 read address
echo
echo "== the last exchanges on the line (simulator's trace: RX = from the program)"
tail -n 6 "$run/trace.log" | cut -c1-160
