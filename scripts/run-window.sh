#!/usr/bin/env bash
# Builds the Windows program and opens its window under Wine against the
# built-in simulated controller and modem on COM1.
# With a display ($DISPLAY set) the window stays up until you close it. Without
# one, a virtual display is started, the port is opened, the parameters, the
# channels and the modem are read, and a screenshot is left in build/wine/ostrakan-window.png.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
. scripts/deps.sh
ensure_packages "${CORE_PACKAGES[@]}" "${MINGW_PACKAGES[@]}" wine wine64 fonts-wine \
    fonts-liberation xvfb imagemagick x11-utils gcc libc6-dev

jobs=$(nproc)
out=build/wine
mkdir -p "$out"

echo "Building the simulator and the 64-bit ostrakan.exe..."
cmake -S . -B build/native -DCMAKE_BUILD_TYPE=Debug >/dev/null
cmake --build build/native -j"$jobs" --target ostrakan-sim >/dev/null
cmake -S . -B build/mingw-x86_64 -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake >/dev/null
cmake --build build/mingw-x86_64 -j"$jobs" >/dev/null
gcc -shared -fPIC -O2 -o "$out/pty_modem_lines.so" tests/wine/pty_modem_lines.c -ldl

pids=()
cleanup() {
    for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
}
trap cleanup EXIT

export WINEPREFIX=$root/$out/run-prefix
export WINEDLLOVERRIDES="mscoree,mshtml="
export WINEDEBUG=-all
export WINEARCH=win64

headless=0
if [ -z "${DISPLAY:-}" ]; then
    headless=1
    for n in $(seq 91 140); do
        if [ ! -e "/tmp/.X$n-lock" ] && [ ! -e "/tmp/.X11-unix/X$n" ]; then export DISPLAY=:$n; break; fi
    done
    Xvfb "$DISPLAY" -screen 0 1280x1024x24 -nolisten tcp >"$out/run-xvfb.log" 2>&1 &
    pids+=($!)
    for _ in $(seq 1 100); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.1; done
    echo "No display: using the virtual display $DISPLAY"
fi

if [ ! -d "$WINEPREFIX/drive_c" ]; then
    echo "Creating the Wine prefix $WINEPREFIX..."
    wineboot -i >"$out/run-wineboot.log" 2>&1
    wineserver -w
fi

# The simulated controller and modem on a pseudo-terminal, which is COM1.
rm -f "$out/run-sim-link"
build/native/ostrakan-sim --link "$root/$out/run-sim-link" --trace-file "$root/$out/run-sim-trace.log" \
    >"$out/run-sim.log" 2>&1 &
pids+=($!)
for _ in $(seq 1 100); do [ -e "$out/run-sim-link" ] && break; sleep 0.1; done
pty=$(readlink -f "$out/run-sim-link")
# Wine's mount manager remakes the dosdevices links of COM ports at start-up
# from HKLM\Software\Wine\Ports, so the mapping goes there as well as into the link.
wine reg add 'HKLM\Software\Wine\Ports' /v COM1 /t REG_SZ /d "$pty" /f >/dev/null 2>&1
wineserver -w
ln -sfn "$pty" "$WINEPREFIX/dosdevices/com1"
echo "COM1 is the simulator on $pty (exchanges traced to $out/run-sim-trace.log)"

# Wine's WaitCommEvent needs TIOCMGET, which a pty lacks (see DEVELOPERS.md).
export LD_PRELOAD=$root/$out/pty_modem_lines.so
work=$out/run
mkdir -p "$work"

if [ "$headless" -eq 0 ]; then
    echo "Opening the window. Choose Communication > Open the Port (COM1 is typed in)."
    (cd "$work" && wine "$root/build/mingw-x86_64/ostrakan.exe")
    exit 0
fi

rm -f "$work/screenshot.request" "$work/screenshot.done" "$out/ostrakan-window.png"
winpath() { echo "Z:$(echo "$1" | tr / '\\')"; }
wine build/mingw-x86_64/ostrakan_wine_driver.exe --show "$(winpath "$root/build/mingw-x86_64/ostrakan.exe")" \
    "$(winpath "$root/$work")" COM1 >"$out/run-driver.log" 2>&1 &
driver=$!
pids+=($driver)
while kill -0 "$driver" 2>/dev/null; do
    if [ -f "$work/screenshot.request" ] && [ ! -f "$work/screenshot.done" ]; then
        import -window root "$out/ostrakan-window.png"
        bash tests/wine/check_screenshot.sh "$out/ostrakan-window.png" $(cat "$work/screenshot.request" | cut -d' ' -f1,2) || true
        touch "$work/screenshot.done"
    fi
    sleep 0.2
done
status=0
wait "$driver" || status=$?
tr -d '\r' <"$out/run-driver.log"
wineserver -w || true
if [ -f "$out/ostrakan-window.png" ]; then
    echo "Screenshot of the window after an open and reads of the controller and modem: $root/$out/ostrakan-window.png"
fi
exit "$status"
