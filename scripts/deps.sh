# Installs the Debian packages a script needs, only when one is missing.
# Usage: ensure_packages pkg...
ensure_packages() {
    local missing=()
    local p
    for p in "$@"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
    done
    if [ ${#missing[@]} -gt 0 ]; then
        echo "Installing: ${missing[*]}" >&2
        export DEBIAN_FRONTEND=noninteractive
        # Another apt-get (a second script, the system's own updates) may hold the
        # lock for a while: wait for it instead of failing.
        apt-get -o DPkg::Lock::Timeout=600 update -q >/dev/null
        apt-get -o DPkg::Lock::Timeout=600 install -y -q --no-install-recommends "${missing[@]}" </dev/null >/dev/null
    fi
}

CORE_PACKAGES=(cmake g++ make libgtest-dev googletest libcli11-dev)
MINGW_PACKAGES=(g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix binutils-mingw-w64-x86-64 binutils-mingw-w64-i686)
# Release artefacts: CPack's DEB generator takes Depends from dpkg-shlibdeps
# (dpkg-dev), which it finds the binaries for with file.
PACKAGE_PACKAGES=(dpkg-dev file)
# Checking them: zip listings, man pages, the Windows resources (binutils-mingw-w64).
PACKAGE_CHECK_PACKAGES=(unzip man-db binutils-mingw-w64-x86-64 binutils-mingw-w64-i686)
BENCH_PACKAGES=(libbenchmark-dev)
# clang with libFuzzer and the sanitizer runtimes, for scripts/fuzz.sh.
FUZZ_PACKAGES=(cmake make clang-14 libclang-rt-14-dev)
# scripts/bench-ops.sh: the peak memory of a run (GNU time's maximum resident set size).
BENCH_OPS_PACKAGES=(time)
# The browser build (scripts/build-web.sh): Debian's emscripten 3.1.6, without its
# recommends (they pull in a hundred more packages); node for its tests. The
# Chromium test adds Debian's browser (scripts/test-web.sh).
WEB_PACKAGES=(emscripten cmake make nodejs)
WEB_TEST_PACKAGES=(chromium)
# The WebSocket relay to a simulated unit (scripts/web-relay.sh): websockify, with
# socat between it and the simulator's pseudo-terminal.
RELAY_PACKAGES=(websockify socat)
