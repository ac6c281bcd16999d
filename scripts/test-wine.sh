#!/usr/bin/env bash
# The Windows program under Wine: runs the 64-bit ostrakan.exe headless (Xvfb)
# against ostrakan-sim on a pseudo-terminal mapped to COM5, driven by our test
# driver; takes and checks a screenshot; checks the imports of both builds.
# Expects build/mingw-x86_64, build/mingw-i686 and build/native (with
# ostrakan-sim), as scripts/test-all.sh leaves them; builds what is missing.
# Installs what it needs. Exit status non-zero on any failure.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
. scripts/deps.sh
. scripts/wine-env.sh
ensure_packages "${CORE_PACKAGES[@]}" "${MINGW_PACKAGES[@]}" "${WINE_PACKAGES[@]}"

jobs=$(nproc)
out=build/wine
mkdir -p "$out"
failed=0

echo "-- builds"
for arch in x86_64 i686; do
    # Incremental: test-all.sh has just built these with the same settings.
    cmake -S . -B "build/mingw-$arch" -DCMAKE_BUILD_TYPE=Release \
        -DCMAKE_TOOLCHAIN_FILE="cmake/mingw-w64-$arch.cmake" >/dev/null
    cmake --build "build/mingw-$arch" -j"$jobs" >/dev/null
done
if [ ! -x build/native/ostrakan-sim ]; then
    cmake -S . -B build/native -DCMAKE_BUILD_TYPE=Debug >/dev/null
    cmake --build build/native -j"$jobs" --target ostrakan-sim >/dev/null
fi
build_pty_shim "$out/pty_modem_lines.so"

echo "-- imports: only the system's own DLLs"
check_imports() {  # objdump, exe
    local dlls bad
    dlls=$("$1" -p "$2" | sed -n 's/^[[:space:]]*DLL Name: //p' | tr 'A-Z' 'a-z' | sort -u)
    bad=$(printf '%s\n' "$dlls" | grep -vxE 'kernel32\.dll|user32\.dll|gdi32\.dll|msvcrt\.dll' || true)
    if [ -z "$bad" ] && printf '%s\n' "$dlls" | grep -qx user32.dll; then
        echo "ok - $2 imports: $(echo $dlls)"
    else
        echo "FAIL - $2 imports: $(echo $dlls)"
        failed=1
    fi
}
check_imports x86_64-w64-mingw32-objdump build/mingw-x86_64/ostrakan.exe
check_imports i686-w64-mingw32-objdump build/mingw-i686/ostrakan.exe
if x86_64-w64-mingw32-objdump -f build/mingw-x86_64/ostrakan.exe | grep -q 'pei-x86-64' &&
   i686-w64-mingw32-objdump -f build/mingw-i686/ostrakan.exe | grep -q 'pei-i386'; then
    echo "ok - one 64-bit and one 32-bit executable"
else
    echo "FAIL - executable formats"
    failed=1
fi

echo "-- the About box's name line: static, left, no prefix, first of a group"
# windres replaces a control's default style with the one given, so a style
# that drops WS_CHILD, WS_VISIBLE or WS_GROUP would show here.
about=$(x86_64-w64-mingw32-windres -i build/mingw-x86_64/ostrakan.exe -O rc | grep '"Ostrakan Version 1.0"')
case "$about" in
*', 0x50020080, 49, 10, 119, 8'*) echo "ok - name line style 0x50020080" ;;
*) echo "FAIL - name line: $about"; failed=1 ;;
esac

echo "-- the receive buffer's cut (native)"
g++ -std=c++17 -Wall -Wextra -Werror -I. tests/wine/burst_store_test.cpp serial/burst_handover.cpp -o "$out/burst_store_test" \
    -lgtest -lgtest_main -pthread
"$out/burst_store_test" --gtest_brief=1 || failed=1

echo "-- ostrakan.exe under Wine against ostrakan-sim"
# A fresh prefix and a virtual display of our own.
start_wine_prefix "$root/$out/prefix" "$out/wineboot.log" "$out/xvfb.log"

# The simulator on a pseudo-terminal; COM5 of the prefix points at it.
work=$out/work
rm -rf "$work" && mkdir -p "$work"
rm -f "$out"/ostrakan-window*.png "$out"/sim-trace*.log  # the simulators append to their traces
# Two answers test the reader: phone 1 comes in 3-byte pieces 50 ms apart (one
# burst, assembled from offset 0), and the own address in a 1000-byte burst
# (the receive buffer keeps its first 600 bytes and nothing overruns).
start_simulator "$root/$out/sim-link" "$out/sim.log" --trace-file "$root/$out/sim-trace.log" \
    --chunks read:phone1:3:50 --long read:address:1000
pty=$sim_pty
sim_pid=${pids[-1]}
map_com_port COM5 "$pty"
echo "COM5 -> $pty"

# Line settings other than the program's, so that the check below sees the
# program's own settings arrive through Wine (a pty keeps the rate, the stop
# bits and the handshake flag, but always has 8 bits without parity).
stty -F "$pty" 1200 cstopb crtscts

# Wine's WaitCommEvent needs TIOCMGET, which a pty lacks.
export LD_PRELOAD=$root/$out/pty_modem_lines.so
wine build/mingw-x86_64/ostrakan_wine_driver.exe "$(wine_path "$root/build/mingw-x86_64/ostrakan.exe")" \
    "$(wine_path "$root/$work")" COM5 >"$out/driver.log" 2>&1 &
driver=$!
pids+=($driver)

# The Unix process of our ostrakan.exe (other prefixes may run one too): Wine
# puts the Windows path it was started with first on its command line.
exe_wine_path=$(wine_path "$root/build/mingw-x86_64/ostrakan.exe")
program_pid() {
    local p first
    for p in /proc/[0-9]*; do
        first=$(tr '\0' '\n' <"$p/cmdline" 2>/dev/null | head -n 1) || continue
        if [ "$first" = "$exe_wine_path" ]; then echo "${p#/proc/}"; return 0; fi
    done
    return 1
}
# User + system time of all its threads over the given seconds, in ms (-1: no process).
program_cpu_ms() {  # seconds
    local pid before after hz
    pid=$(program_pid) || { echo -1; return; }
    hz=$(getconf CLK_TCK)
    # Fields 14 and 15 (utime, stime), counted after the ")" that ends the name.
    before=$(sed 's/.*) //' "/proc/$pid/stat" | awk '{print $12 + $13}')
    sleep "$1"
    after=$(sed 's/.*) //' "/proc/$pid/stat" | awk '{print $12 + $13}')
    echo $(( (after - before) * 1000 / hz ))
}

# The driver asks for a screenshot when the window shows a read's results, and
# again once the About box has closed over the window; it asks for real typing
# (click at x y, then type the UTF-8 text of the request's second line on the X
# keyboard); near its end it asks for the device to be pulled (the simulator
# ends, closing its side of the pty) and plugged back in (a new simulator on a
# new pty behind the same COM name).
shots=0
typed=0
pulled=0
while kill -0 "$driver" 2>/dev/null; do
    if [ -f "$work/script.request" ] && [ ! -f "$work/script.done" ]; then
        { read -r step ox oy name; IFS= read -r text || text=; } <"$work/script.request"
        case "$step" in
        type)
            # Wine drops the first key xdotool types on a keycode it has just
            # remapped (one the keyboard had no symbol on); a warm-up key, sent
            # while the main window has the focus, lets it learn that keycode.
            xdotool type --delay 150 -- "ё"
            sleep 0.5
            xdotool mousemove "$ox" "$oy" click 1
            sleep 1  # the click's focus settles before the first key
            xdotool type --delay 150 -- "$text"
            typed=$((typed + 1))
            ;;
        screenshot)
            shot=$out/$name.png
            if [ "$shots" -eq 0 ]; then
                # The port is open now: 9600 baud, 8 data bits, no parity, one stop
                # bit, no hardware handshake.
                settings=" $(stty -F "$pty" -a | tr '\n;' '  ') "
                bad=
                for want in ' speed 9600 baud ' ' cs8 ' ' -parenb ' ' -cstopb ' ' -crtscts '; do
                    case "$settings" in *"$want"*) ;; *) bad="$bad [$want]" ;; esac
                done
                if [ -z "$bad" ]; then
                    echo "ok - line settings 9600 8N1 without handshake"
                else
                    echo "FAIL - line settings lack$bad: $(echo $settings | head -c 300)"
                    failed=1
                fi
            fi
            import -window root "$shot"
            echo "screenshot: $shot"
            bash tests/wine/check_screenshot.sh "$shot" "$ox" "$oy" || failed=1
            shots=$((shots + 1))
            ;;
        cpu)
            # The program's CPU time over 3 s, from its Wine process's /proc entry.
            echo "$(program_cpu_ms 3)" >"$work/cpu.txt"
            ;;
        pull)
            kill "$sim_pid" && wait "$sim_pid" || true
            pulled=1
            ;;
        wire)
            # The bytes the new device received (its trace says RX for them).
            if grep -q " RX $ox $oy $name" "$out/sim-trace-2.log" 2>/dev/null; then
                echo "ok - the new device received $ox $oy $name..."
            else
                echo "FAIL - the new device never received $ox $oy $name... (see $out/sim-trace-2.log)"
                failed=1
            fi
            ;;
        plug)
            preload=$LD_PRELOAD
            unset LD_PRELOAD
            start_simulator "$root/$out/sim-link-2" "$out/sim-2.log" --trace-file "$root/$out/sim-trace-2.log"
            export LD_PRELOAD=$preload
            # Wine resolves the link at each open; the registry is read only at start-up.
            ln -sfn "$sim_pty" "$WINEPREFIX/dosdevices/com5"
            echo "COM5 -> $sim_pty (plugged back in)"
            ;;
        esac
        touch "$work/script.done"
    fi
    sleep 0.2
done
driver_status=0
wait "$driver" || driver_status=$?
unset LD_PRELOAD
# The driver's report only: when the simulator's pty hangs up, the Wine server
# (started by the driver, so writing to the same log) prints its whole object
# table there; driver.log keeps everything.
tr -d '\r' <"$out/driver.log" | grep -E '^(ok|FAIL) - |^[0-9]+ checks' || true
[ "$driver_status" -eq 0 ] || { echo "FAIL - driver exit status $driver_status"; failed=1; }
[ "$shots" -eq 2 ] || { echo "FAIL - $shots screenshots taken, 2 expected"; failed=1; }
[ "$pulled" -eq 1 ] || { echo "FAIL - the device was never pulled"; failed=1; }
[ "$typed" -eq 1 ] || { echo "FAIL - typed $typed times, once expected"; failed=1; }
# The user name typed as Cyrillic went to the modem as code page 1251: "Ivan"
# is C8 E2 E0 ED there (the driver checks the field and _data.ini).
if grep -q ' RX .*C8 E2 E0 ED' "$out/sim-trace.log"; then
    echo "ok - the typed user name reached the modem as C8 E2 E0 ED"
else
    echo "FAIL - no C8 E2 E0 ED among the bytes the modem received (see $out/sim-trace.log)"
    failed=1
fi
wineserver -w || true

if [ "$failed" -ne 0 ]; then
    echo "Wine tests FAILED (logs in $out)"
    exit 1
fi
echo "Wine tests passed"
