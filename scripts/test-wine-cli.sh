#!/usr/bin/env bash
# ostrakan-cli.exe under Wine: the 64-bit build against two ostrakan-sim
# processes on pseudo-terminals mapped to COM5 (a healthy unit) and COM6 (one
# that answers nothing). A table of commands with their exit status and a text
# their output must hold, the same expectations as the Linux end-to-end tests;
# then the bytes on the line and the imports of both builds. Expects the mingw
# build dirs and build/native/ostrakan-sim as scripts/test-all.sh leaves them.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
. scripts/deps.sh
. scripts/wine-env.sh
ensure_packages "${CORE_PACKAGES[@]}" "${MINGW_PACKAGES[@]}" wine wine64 gcc libc6-dev

out=build/wine-cli
mkdir -p "$out"
failed=0
passed=0
ok() { echo "ok - $*"; passed=$((passed + 1)); }
fail() { echo "FAIL - $*"; failed=$((failed + 1)); }

echo "-- builds"
for arch in x86_64 i686; do
    cmake -S . -B "build/mingw-$arch" -DCMAKE_BUILD_TYPE=Release \
        -DCMAKE_TOOLCHAIN_FILE="cmake/mingw-w64-$arch.cmake" >/dev/null
    cmake --build "build/mingw-$arch" -j2 --target ostrakan-cli >/dev/null
done
cmake --build build/mingw-x86_64 -j2 --target ostrakan_wine_platform_test >/dev/null
if [ ! -x build/native/ostrakan-sim ]; then
    cmake -S . -B build/native -DCMAKE_BUILD_TYPE=Debug >/dev/null
    cmake --build build/native -j2 --target ostrakan-sim >/dev/null
fi
build_pty_shim "$out/pty_modem_lines.so"

echo "-- imports: only the system's own DLLs"
for arch in x86_64 i686; do
    exe=build/mingw-$arch/ostrakan-cli.exe
    dlls=$("$arch-w64-mingw32-objdump" -p "$exe" | sed -n 's/^[[:space:]]*DLL Name: //p' | tr 'A-Z' 'a-z' | sort -u)
    bad=$(printf '%s\n' "$dlls" | grep -vxE 'kernel32\.dll|user32\.dll|advapi32\.dll|setupapi\.dll|msvcrt\.dll' || true)
    if [ -z "$bad" ]; then ok "$exe imports: $(echo $dlls)"; else fail "$exe imports: $(echo $dlls)"; fi
    if [[ "$("$arch-w64-mingw32-objdump" -p "$exe")" == *'(Windows CUI)'* ]]; then ok "$exe is a console program"
    else fail "$exe is not a console program"; fi
done

start_wine_prefix "$root/$out/prefix" "$out/wineboot.log"

rm -f "$out/sim-trace.log"
start_simulator "$root/$out/sim-link" "$out/sim.log" --trace-file "$root/$out/sim-trace.log"
map_com_port COM5 "$sim_pty"
start_simulator "$root/$out/silent-link" "$out/silent.log" --silent '*'
map_com_port COM6 "$sim_pty"

work=$out/work
rm -rf "$work" && mkdir -p "$work"

echo "-- the settings replace and the USB identities on Win32"
mkdir -p "$out/platform" && rm -f "$out/platform"/*
status=0
(cd "$out/platform" && wine "$root/build/mingw-x86_64/ostrakan_wine_platform_test.exe" >"$root/$out/platform.log" 2>&1) ||
    status=$?
while IFS= read -r line; do
    case $line in
    ok\ -*) ok "${line#ok - }" ;;
    FAIL\ -*) fail "${line#FAIL - }" ;;
    esac
done < <(tr -d '\r' <"$out/platform.log")
[ "$status" -eq 0 ] || fail "the platform test ended with status $status (see $out/platform.log)"
export LD_PRELOAD=$root/$out/pty_modem_lines.so
cli=$root/build/mingw-x86_64/ostrakan-cli.exe

# status, where to look (out, err or a file the command wrote), a text it
# must hold, then the arguments, split at spaces as they are. Run in order: the
# reads after a write see what it wrote.
cases=(
    "0|out|010|--port COM5 read period"
    '0|out|007|--port \\.\COM5 read address'
    "0|err|period 120 sent|write period 120 --port COM5"
    "0|out|120|-p COM5 read period"
    "0|out|probe=unit period=120|ports --probe"
    '0|out|"answered": true, "period": "120"|--json ports --probe'
    '0|out|{"period": "120"}|--json --port=COM5 read period'
    "0|err|channels sent|--port COM5 write channels 1:A 31:BX 17:T 17:BX"
    "0|out|17 0 1 1|--port COM5 read channels"
    '0|out|"BX": true}]}|--json --port COM5 read channels'
    "0|out|Ok!|--port COM5 modem write --ip 203.0.113.5 --apn m2m.example --user Иван --password pw"
    "0|out|User: Иван|--port COM5 modem read"
    '0|out|"user": "Иван"|--json --port COM5 modem read'
    '0|profile.json|"user": "Иван"|--port COM5 dump -o profile.json'
    '0|Профиль.json|"user": "Иван"|--port COM5 dump -o Профиль.json'
    "5|err|cannot create a temporary file beside missing/unit.json|--port COM5 dump -o missing/unit.json"
    "0|err|the unit holds the profile|--port COM5 restore profile.json"
    "0|err|the unit holds the profile|--port COM5 verify profile.json"
    '0|журнал.log|"operation": "verify", "status": "ok"|--port COM5 verify profile.json --log журнал.log'
    "0|err|the unit holds the profile|--port COM5 restore Профиль.json"
    "1|err|1 of 2 units|provision profile.json --ports COM5,COM6 --report report.json"
    "0|session.trace|TX 0A 21 AA 4E 41 00|--trace-file session.trace --port COM5 read period"
    "0|session.trace|# ostrakan-cli 1.1.0 trace, 9600 8N1|--trace-file session.trace --port COM5 read period"
    "0|err|RX 0A 21 AA 40 07 0D 0A|--trace --port COM5 read address"
    "1|err|did not answer|--port COM6 read period"
    "2|err|is not a character of code page 1251|--port COM5 modem write --user 中"
    "2|err|Name is wrong.|--port COM999 read period"
    "2|err|Run with --help|--port COM5 read bogus"
    "2|err|Linux only|--port sim read period"
    "3|err|COM77: no such port|--port COM77 read period"
    "0|out|COM5 |ports"
    '0|out|"com": "COM6"|--json ports'
    "0|out|ostrakan-cli 1.1.0|--version"
    "0|out|provision|--help"
)
for row in "${cases[@]}"; do
    IFS='|' read -r want stream text args <<<"$row"
    read -r -a argv <<<"$args"
    status=0
    (cd "$work" && wine "$cli" "${argv[@]}" >"$root/$out/stdout" 2>"$root/$out/stderr") || status=$?
    case $stream in out|err) where=$out/std$stream ;; *) where=$work/$stream ;; esac
    got=$(tr -d '\r' <"$where" 2>/dev/null || true)
    if [ "$status" -eq "$want" ] && [[ "$got" == *"$text"* ]]; then
        ok "$args: $want, $stream holds $text"
    else
        fail "$args: exit $status (want $want), $stream: $(head -c 400 "$where" 2>/dev/null)"
        echo "   stderr: $(head -c 400 "$out/stderr")"
    fi
done

# Ctrl-C (Wine turns SIGINT into the console's Ctrl-C event) during a read the
# silent unit never answers: the port is closed and the status is 130.
(cd "$work" && exec wine "$cli" --port COM6 read period >"$root/$out/stdout" 2>"$root/$out/stderr") &
reader=$!
sleep 2
kill -INT "$reader"
status=0
wait "$reader" || status=$?
if [ "$status" -eq 130 ] && grep -q interrupted "$out/stderr"; then ok "Ctrl-C: exit 130, interrupted"
else fail "Ctrl-C: exit $status, stderr: $(head -c 300 "$out/stderr")"; fi
unset LD_PRELOAD

echo "-- on the line and on disk"
# The user name went to the modem as code page 1251: "Иван" is C8 E2 E0 ED.
if grep -q ' RX .*C8 E2 E0 ED' "$out/sim-trace.log"; then ok "Иван reached the modem as C8 E2 E0 ED"
else fail "no C8 E2 E0 ED among the bytes the modem received"; fi
if [ "$(head -c 50 "$work/_data.ini" | od -An -tx1 | tr -d ' \n')" = \
     "$(printf '203.0.113.5\r\nm2m.example\r\n\xc8\xe2\xe0\xed\r\npw' | od -An -tx1 | tr -d ' \n')" ]; then
    ok "_data.ini holds the entries as the window program writes them"
else fail "_data.ini: $(od -c "$work/_data.ini" | head -5)"; fi
# The refused name sent nothing: the last modem request is still the read's.
if ! grep -q 'E4 B8 AD' "$out/sim-trace.log"; then ok "the refused character was not sent"
else fail "the refused character reached the modem"; fi
report=$(tr -d '\r\n ' <"$work/report.json" 2>/dev/null || true)
if [[ "$report" == *'"port":"COM5","ok":true'* && "$report" == *'"port":"COM6","ok":false'* ]]; then
    ok "the provisioning report: COM5 done, COM6 failed"
else fail "report: $report"; fi
wineserver -w || true

echo "$passed passed, $failed failed"
if [ "$failed" -ne 0 ]; then
    echo "Wine CLI tests FAILED (logs in $out)"
    exit 1
fi
echo "Wine CLI tests passed"
