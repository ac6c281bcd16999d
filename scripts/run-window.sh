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
. scripts/wine-env.sh
ensure_packages "${CORE_PACKAGES[@]}" "${MINGW_PACKAGES[@]}" "${WINE_PACKAGES[@]}"

jobs=$(nproc)
out=build/wine
mkdir -p "$out"

echo "Building the simulator and the 64-bit ostrakan.exe..."
cmake -S . -B build/native -DCMAKE_BUILD_TYPE=Debug >/dev/null
cmake --build build/native -j"$jobs" --target ostrakan-sim >/dev/null
cmake -S . -B build/mingw-x86_64 -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake >/dev/null
cmake --build build/mingw-x86_64 -j"$jobs" >/dev/null
build_pty_shim "$out/pty_modem_lines.so"

pids=()
cleanup() {
    for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
}
trap cleanup EXIT

use_wine_prefix "$root/$out/run-prefix"

headless=0
if [ -z "${DISPLAY:-}" ]; then
    headless=1
    start_virtual_display "$out/run-xvfb.log"
    echo "No display: using the virtual display $DISPLAY"
fi

if [ ! -d "$WINEPREFIX/drive_c" ]; then
    echo "Creating the Wine prefix $WINEPREFIX..."
    wineboot -i >"$out/run-wineboot.log" 2>&1
    wineserver -w
fi

# The simulated controller and modem on a pseudo-terminal, which is COM1.
start_simulator "$root/$out/run-sim-link" "$out/run-sim.log" --trace-file "$root/$out/run-sim-trace.log"
pty=$sim_pty
map_com_port COM1 "$pty"
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

rm -f "$work/script.request" "$work/script.done" "$out/ostrakan-window.png"
wine build/mingw-x86_64/ostrakan_wine_driver.exe --show "$(wine_path "$root/build/mingw-x86_64/ostrakan.exe")" \
    "$(wine_path "$root/$work")" COM1 >"$out/run-driver.log" 2>&1 &
driver=$!
pids+=($driver)
while kill -0 "$driver" 2>/dev/null; do
    if [ -f "$work/script.request" ] && [ ! -f "$work/script.done" ]; then
        # "screenshot X Y NAME": the only request of the demonstration.
        read -r _ ox oy _ <"$work/script.request"
        import -window root "$out/ostrakan-window.png"
        bash tests/wine/check_screenshot.sh "$out/ostrakan-window.png" "$ox" "$oy" || true
        touch "$work/script.done"
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
