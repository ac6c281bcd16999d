#!/usr/bin/env bash
# Checks the release artefacts scripts/package.sh left in dist/: what each holds,
# path by path; the version everywhere it shows; then installs the .deb as a user
# would, runs the installed tools, finds their man pages and the completion, and
# removes the package again. Debian, as root. Exit status non-zero on any failure.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
. scripts/deps.sh
ensure_packages "${PACKAGE_CHECK_PACKAGES[@]}"

version=$(sed -n 's/^project(ostrakan VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
[ -n "$version" ] || { echo "FAIL - no project version in CMakeLists.txt"; exit 1; }
deb=dist/ostrakan_${version}_amd64.deb
failed=0
ok() { echo "ok - $*"; }
fail() { echo "FAIL - $*"; failed=1; }
same() {  # what, expected, actual
    if [ "$2" = "$3" ]; then ok "$1"; else fail "$1"; diff <(echo "$2") <(echo "$3") | sed 's/^/    /'; fi
}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

echo "-- dist/"
same "dist/ holds the four artefacts" \
"ostrakan-$version-win32.zip
ostrakan-$version-win64.zip
ostrakan-web-$version.zip
ostrakan_${version}_amd64.deb" "$(ls dist | LC_ALL=C sort)"
[ "$failed" = 0 ] || exit 1

echo "-- the .deb"
# Every page in docs/ goes with the package.
doc_lines=$(for f in docs/*.md; do echo "-rw-r--r-- ./usr/share/doc/ostrakan/${f#docs/}"; done | LC_ALL=C sort)
same "$deb: paths and modes" \
"drwxr-xr-x ./usr/
drwxr-xr-x ./usr/bin/
-rwxr-xr-x ./usr/bin/ostrakan-cli
-rwxr-xr-x ./usr/bin/ostrakan-sim
drwxr-xr-x ./usr/share/
drwxr-xr-x ./usr/share/bash-completion/
drwxr-xr-x ./usr/share/bash-completion/completions/
-rw-r--r-- ./usr/share/bash-completion/completions/ostrakan-cli
drwxr-xr-x ./usr/share/doc/
drwxr-xr-x ./usr/share/doc/ostrakan/
-rw-r--r-- ./usr/share/doc/ostrakan/README.md
$doc_lines
drwxr-xr-x ./usr/share/man/
drwxr-xr-x ./usr/share/man/man1/
-rw-r--r-- ./usr/share/man/man1/ostrakan-cli.1.gz
-rw-r--r-- ./usr/share/man/man1/ostrakan-sim.1.gz" \
    "$(dpkg-deb -c "$deb" | awk '{ print $1, $6 }' | LC_ALL=C sort -k2)"
same "$deb: every entry owned by root" "root/root" "$(dpkg-deb -c "$deb" | awk '{ print $2 }' | sort -u)"
same "$deb: control fields" \
"Package: ostrakan
Version: $version
Architecture: amd64
Section: comm" \
    "$(dpkg-deb -f "$deb" Package Version Architecture Section)"
# The binaries link only the C and C++ runtimes; dpkg-shlibdeps turns that into these.
same "$deb: depends on the runtimes the binaries link" "libc6 libgcc-s1 libstdc++6" \
    "$(dpkg-deb -f "$deb" Depends | tr ',' '\n' | awk '{ print $1 }' | sort | xargs)"
if dpkg-deb -f "$deb" Maintainer | grep -qE '^.+ <[^ ]+@[^ ]+>$' && [ -n "$(dpkg-deb -f "$deb" Description)" ]; then
    ok "$deb: maintainer and description"
else
    fail "$deb: maintainer and description"
fi

echo "-- the browser edition's zip"
webzip=dist/ostrakan-web-$version.zip
webdir=ostrakan-web-$version
same "$webzip: paths" "$webdir/
$webdir/index.html
$webdir/ostrakan.mjs
$webdir/ostrakan.wasm
$webdir/page.js
$webdir/style.css
$webdir/worker.js" "$(unzip -Z1 "$webzip" | LC_ALL=C sort)"
unzip -q -o "$webzip" -d "$work"
for f in index.html page.js worker.js; do
    same "$webzip: $f is the source's" "$(cat "web/$f")" "$(cat "$work/$webdir/$f")"
done
if [ "$(head -c 4 "$work/$webdir/ostrakan.wasm" | od -An -tx1 | tr -d ' ')" = 0061736d ]; then
    ok "$webzip: ostrakan.wasm is WebAssembly"
else
    fail "$webzip: ostrakan.wasm is not WebAssembly"
fi
# Nothing from another origin: no address in the page or its scripts.
if grep -lE "(src|href)=\"(https?:)?//|import[^;]*['\"]https?:" "$work/$webdir"/*.html "$work/$webdir"/*.js "$work/$webdir"/*.mjs; then
    fail "$webzip: a file loads something from another origin"
else
    ok "$webzip: loads nothing from another origin"
fi
web_bytes=$(cat "$work/$webdir"/*.js "$work/$webdir"/*.mjs "$work/$webdir"/*.wasm | wc -c)
if [ "$web_bytes" -lt 512000 ]; then ok "$webzip: JS and WASM $web_bytes bytes (< 500 KB)"
else fail "$webzip: JS and WASM $web_bytes bytes (500 KB or more)"; fi

echo "-- the Windows zips"
for bits in 32 64; do
    case $bits in
        32) tools=i686-w64-mingw32 format=pei-i386 ;;
        64) tools=x86_64-w64-mingw32 format=pei-x86-64 ;;
    esac
    name=ostrakan-$version-win$bits
    zip=dist/$name.zip
    same "$zip: paths" "$name/cli-guide.txt
$name/ostrakan-cli.exe
$name/ostrakan.exe
$name/user-guide.txt" "$(unzip -Z1 "$zip" | LC_ALL=C sort)"
    unzip -q -o "$zip" -d "$work"
    for exe in ostrakan.exe ostrakan-cli.exe; do
        if "$tools-objdump" -f "$work/$name/$exe" | grep -q "file format $format"; then
            ok "$zip: $exe is $format"
        else
            fail "$zip: $exe is not $format"
        fi
    done
    IFS=. read -r major minor patch <<<"$version"
    same "$zip: ostrakan.exe's version block" \
" FILEVERSION $major, $minor, $patch, 0
 PRODUCTVERSION $major, $minor, $patch, 0
      VALUE \"FileVersion\", \"$version\"
      VALUE \"ProductName\", \"Ostrakan\"
      VALUE \"ProductVersion\", \"$version\"" \
        "$("$tools-windres" -i "$work/$name/ostrakan.exe" -O rc |
           grep -E '^ (FILE|PRODUCT)VERSION |VALUE "(FileVersion|ProductName|ProductVersion)"')"
    # The guide is docs/windows.md for Notepad: a UTF-8 byte-order mark and CRLF.
    for pair in user-guide.txt:windows.md cli-guide.txt:cli-and-simulator.md; do
        guide=$work/$name/${pair%%:*}
        if [ "$(head -c 3 "$guide" | od -An -tx1 | xargs)" = "ef bb bf" ] &&
           [ "$(grep -c $'\r$' "$guide")" = "$(wc -l <"$guide")" ] &&
           tail -c +4 "$guide" | tr -d '\r' | cmp -s - "docs/${pair#*:}"; then
            ok "$zip: ${pair%%:*} is docs/${pair#*:} with a BOM and CRLF"
        else
            fail "$zip: ${pair%%:*} is not docs/${pair#*:} with a BOM and CRLF"
        fi
    done
done

echo "-- installing the .deb"
if dpkg-query -W -f='${Status}' ostrakan 2>/dev/null | grep -q "install ok installed"; then
    echo "ostrakan was installed already: removing it first" >&2
    dpkg -r ostrakan >/dev/null
fi
sim_pid=""
cleanup() {
    [ -n "$sim_pid" ] && { kill "$sim_pid" 2>/dev/null; wait "$sim_pid" 2>/dev/null || true; }
    dpkg-query -W -f='${Status}' ostrakan 2>/dev/null | grep -q "install ok installed" &&
        DEBIAN_FRONTEND=noninteractive apt-get remove -y -q ostrakan </dev/null >/dev/null
    rm -rf "$work"
}
trap cleanup EXIT
if DEBIAN_FRONTEND=noninteractive apt-get install -y -q "$root/$deb" </dev/null >"$work/apt.log" 2>&1; then
    ok "apt-get install ./$deb"
else
    fail "apt-get install ./$deb"; sed 's/^/    /' "$work/apt.log"; exit 1
fi
same "the tools are on PATH" "/usr/bin/ostrakan-cli /usr/bin/ostrakan-sim" \
    "$(command -v ostrakan-cli) $(command -v ostrakan-sim)"

for tool in ostrakan-cli ostrakan-sim; do
    set +e; out=$("$tool" --version 2>&1); status=$?; set -e
    if [ "$status" = 0 ] && [ "$out" = "$tool $version" ]; then
        ok "$tool --version: $out"
    else
        fail "$tool --version (exit $status): $out"
    fi
done

# _data.ini is the current directory's: run where nothing else is.
mkdir -p "$work/run"
set +e; out=$(cd "$work/run" && ostrakan-cli --port sim read period 2>&1); status=$?; set -e
same "ostrakan-cli --port sim read period (exit $status)" "010" "$out"

for page in ostrakan-cli ostrakan-sim; do
    same "man -w $page" "/usr/share/man/man1/$page.1.gz" "$(man -w "$page" 2>&1)"
    warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings "$page" 2>&1 >/dev/null)
    same "man $page renders without warnings" "" "$warnings"
    if LC_ALL=C.UTF-8 MANWIDTH=80 man "$page" 2>/dev/null | grep -q "Ostrakan $version"; then
        ok "man $page names version $version"
    else
        fail "man $page does not name version $version"
    fi
done

echo "-- bash completion"
completion=/usr/share/bash-completion/completions/ostrakan-cli
# A COM name of the user's own: the simulator linked as com7 in OSTRAKAN_DEVICES.
mkdir -p "$work/devices"
ostrakan-sim --link "$work/devices/com7" >/dev/null 2>"$work/sim.err" &
sim_pid=$!
for _ in $(seq 100); do [ -e "$work/devices/com7" ] && break; sleep 0.05; done
# Each case: the words before the cursor; the word under it; the replies, sorted.
# ("--port=s" reaches a completion as the words "--port" "=" "s".)
while IFS=';' read -r words cur expected; do
    reply=$(OSTRAKAN_DEVICES=$work/devices bash --norc --noprofile -c '
        . "$1"; shift
        read -ra COMP_WORDS <<<"$1"; COMP_WORDS+=("$2"); COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
        _ostrakan_cli ostrakan-cli "$2"
        printf "%s\n" "${COMPREPLY[@]}" | LC_ALL=C sort | xargs' _ "$completion" "$words" "$cur")
    if [ "$reply" = "$expected" ] ||
       { [ "${expected%% *}" = "contains" ] && [[ " $reply " == *" ${expected#contains } "* ]]; }; then
        ok "complete '$words $cur' -> $reply"
    else
        fail "complete '$words $cur' -> '$reply', want '$expected'"
    fi
done <<'CASES'
ostrakan-cli;;dump modem ports provision read restore verify write
ostrakan-cli;rea;read
ostrakan-cli read;;address channels period phone1 phone2 sms
ostrakan-cli --json write;ph;phone1 phone2
ostrakan-cli -p sim modem;;read write
ostrakan-cli modem write --ip 10.0.0.1;--pass;--password --password-file
ostrakan-cli read period;--j;--json
ostrakan-cli read period --port;CO;contains COM7
ostrakan-cli --port = ;s;sim
ostrakan-cli read period -p;/dev/nul;/dev/null
ostrakan-cli provision p.json;--u;--units
ostrakan-cli verify p.json --units t.csv;--l;--label-column --log
CASES

echo "-- removing the .deb"
if DEBIAN_FRONTEND=noninteractive apt-get remove -y -q ostrakan </dev/null >"$work/apt.log" 2>&1 &&
   [ ! -e /usr/bin/ostrakan-cli ] && [ ! -e "$completion" ] && [ ! -e /usr/share/man/man1/ostrakan-cli.1.gz ]; then
    ok "apt-get remove ostrakan leaves none of its files"
else
    fail "apt-get remove ostrakan"; sed 's/^/    /' "$work/apt.log"
fi

[ "$failed" = 0 ] && echo "package checks passed"
exit "$failed"
