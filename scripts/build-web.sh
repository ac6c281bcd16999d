#!/bin/bash
# Builds the browser edition into build/web/: index.html at the root, the page's
# script and style, the Worker, the core as an ES module with its .wasm, and the
# one-file CommonJS module the node tests load (build/web-build/ostrakan-node.cjs).
# Nothing is fetched at run time; the folder can be served by any static host.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/deps.sh
ensure_packages "${WEB_PACKAGES[@]}"
# Debian's emscripten finds its JavaScript helpers (acorn) through NODE_PATH.
export NODE_PATH=/usr/share/nodejs
emcmake cmake -S . -B build/web-build -DCMAKE_BUILD_TYPE=MinSizeRel -DOSTRAKAN_BUILD_TESTS=OFF >/dev/null
cmake --build build/web-build -j2 --target ostrakan-web ostrakan-node
rm -rf build/web
mkdir -p build/web
cp web/index.html web/style.css web/page.js web/worker.js build/web/
cp build/web-build/ostrakan.mjs build/web-build/ostrakan.wasm build/web/
echo "build/web: $(cd build/web && ls | tr '\n' ' ')"
