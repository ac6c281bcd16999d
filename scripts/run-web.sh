#!/bin/bash
# Builds the browser edition, serves it on http://127.0.0.1:8080, starts
# ostrakan-sim behind a WebSocket relay on ws://127.0.0.1:8081/ and prints the
# address that opens the page on it. Ctrl-C stops all of it.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/deps.sh
. scripts/web-relay.sh
ensure_packages "${CORE_PACKAGES[@]}" "${RELAY_PACKAGES[@]}"
bash scripts/build-web.sh
if [ ! -x build/native/ostrakan-sim ]; then
    cmake -S . -B build/native >/dev/null
    cmake --build build/native -j"$(nproc)" --target ostrakan-sim >/dev/null
fi
run=build/web-run
trap 'stop_relay; stop_sim; kill ${SERVER_PID:-} 2>/dev/null; exit 0' INT TERM EXIT
start_sim "$run"
start_relay 8081
node scripts/serve-web.mjs build/web 8080 >"$run/server.log" 2>&1 &
SERVER_PID=$!
for _ in $(seq 100); do grep -q serving "$run/server.log" && break; kill -0 "$SERVER_PID" 2>/dev/null || break; sleep 0.05; done
grep -q serving "$run/server.log" || { echo "The page's server did not start: $(cat "$run/server.log")" >&2; exit 1; }
echo
echo "Open http://127.0.0.1:8080/?relay=ws://127.0.0.1:8081/ in Chrome, Edge or Opera,"
echo "then Open the Port and press any Read or Write. The simulator's trace: $run/sim-trace.log"
echo "Ctrl-C stops the server, the relay and the simulator."
wait "$SERVER_PID"
