#!/usr/bin/env bash
# Builds the release artefacts into dist/:
#   ostrakan_<version>_amd64.deb      ostrakan-cli, ostrakan-sim, man pages,
#                                     bash completion, docs (a Release build)
#   ostrakan-<version>-win32.zip      ostrakan.exe, ostrakan-cli.exe (i686), the user
#                                     guide and the CLI guide
#   ostrakan-<version>-win64.zip      the same for x86_64
#   ostrakan-web-<version>.zip        the browser edition's static files
#                                     (scripts/build-web.sh), in ostrakan-web-<version>/
# The version is CMake's project version. What goes into each is set in
# cmake/packaging.cmake; scripts/check-package.sh checks the result.
# Installs what is missing first (Debian, as root).
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/deps.sh
ensure_packages "${CORE_PACKAGES[@]}" "${MINGW_PACKAGES[@]}" "${PACKAGE_PACKAGES[@]}"

jobs=$(nproc)
rm -rf dist
mkdir -p dist

pack() {  # build dir, cmake args...
    local dir=$1; shift
    echo "-- $dir"
    cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=Release "$@" >/dev/null
    cmake --build "$dir" -j"$jobs" >/dev/null
    # cpack names what it made on a line "CPack: - package: PATH generated."
    local made
    made=$(cd "$dir" && cpack | sed -n 's/^CPack: - package: \(.*\) generated\.$/\1/p')
    [ -n "$made" ] || { echo "cpack made nothing in $dir" >&2; exit 1; }
    cp "$made" dist/
}

# The .deb from its own build: Release, no test suite.
pack build/release -DOSTRAKAN_BUILD_TESTS=OFF
# The same Windows builds scripts/test-all.sh makes and tests.
for arch in i686 x86_64; do
    if [ -f "build/mingw-$arch/CMakeCache.txt" ]; then
        pack "build/mingw-$arch"
    else
        pack "build/mingw-$arch" -DCMAKE_TOOLCHAIN_FILE="cmake/mingw-w64-$arch.cmake"
    fi
done

# The browser edition: the static files as build-web.sh leaves them, in one
# folder, packed by CMake's own archiver (no zip program needed).
bash scripts/build-web.sh >/dev/null
version=$(sed -n 's/^project(ostrakan VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
web=build/package-web/ostrakan-web-$version
rm -rf build/package-web
mkdir -p "$web"
cp build/web/* "$web/"
(cd build/package-web && cmake -E tar cf "../../dist/ostrakan-web-$version.zip" --format=zip \
    --mtime=2019-04-01 "ostrakan-web-$version")

echo "dist/:"
ls -l dist
