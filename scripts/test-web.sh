#!/bin/bash
# The browser edition's tests: node tests of the WebAssembly build, then the page
# in Debian's Chromium (driven by puppeteer-core from npm, pinned in
# tests/web/package.json, without its browser download) in relay mode against
# ostrakan-sim. Leaves build/web-test/page.png and figures.json.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/deps.sh
. scripts/web-relay.sh
ensure_packages "${CORE_PACKAGES[@]}" "${WEB_PACKAGES[@]}" "${WEB_TEST_PACKAGES[@]}" "${RELAY_PACKAGES[@]}"
bash scripts/build-web.sh
node --test tests/web/core.test.cjs

if [ ! -x build/native/ostrakan-sim ]; then
    cmake -S . -B build/native >/dev/null
    cmake --build build/native -j2 --target ostrakan-sim >/dev/null
fi
out=$PWD/build/web-test
mkdir -p "$out"
cp tests/web/package.json "$out/"
# Exactly the pinned harness; the browser is Debian's.
(cd "$out" && PUPPETEER_SKIP_DOWNLOAD=1 npm install --no-audit --no-fund --loglevel=error >/dev/null)

WEB_PORT=${WEB_PORT:-8090}
export RELAY_WS_PORT=${RELAY_WS_PORT:-8091} TCP_PORT=${TCP_PORT:-7091}
rm -f "$out/sim-trace.log"
trap 'stop_sim; kill ${SERVER_PID:-} 2>/dev/null || true' EXIT
# The SMS phone keeps no write: the profile restore must name that difference.
start_sim "$out" --ignore-writes write:sms
node scripts/serve-web.mjs build/web "$WEB_PORT" >"$out/server.log" 2>&1 &
SERVER_PID=$!
for _ in $(seq 100); do (exec 3<>"/dev/tcp/127.0.0.1/$WEB_PORT") 2>/dev/null && break; sleep 0.05; done
WEB_URL="http://127.0.0.1:$WEB_PORT/" RELAY_TCP_PORT=$TCP_PORT SIM_TRACE="$out/sim-trace.log" \
    WEB_TEST_OUT="$out" WEB_TEST_MODULES="$out/node_modules" \
    timeout 300 node --test tests/web/browser.test.mjs
echo "web test: screenshot $out/page.png, figures $out/figures.json"
