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
        apt-get update -q >/dev/null
        apt-get install -y -q --no-install-recommends "${missing[@]}" </dev/null >/dev/null
    fi
}

CORE_PACKAGES=(cmake g++ make libgtest-dev googletest)
MINGW_PACKAGES=(g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix binutils-mingw-w64-x86-64 binutils-mingw-w64-i686)
# clang with libFuzzer and the sanitizer runtimes, for scripts/fuzz.sh.
FUZZ_PACKAGES=(cmake make clang-14 libclang-rt-14-dev)
