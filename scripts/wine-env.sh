# What the Wine scripts share: the packages, a prefix, a virtual display, the
# pty shim and a COM port that is the simulator. Sourced after scripts/deps.sh;
# each function that starts a process adds its id to the caller's pids array.

# Wine's fonts come as recommendations, which ensure_packages leaves out.
WINE_PACKAGES=(wine wine64 fonts-wine fonts-liberation xvfb xdotool imagemagick x11-utils gcc libc6-dev)

# A prefix without the Mono and Gecko offers, and without Wine's debug output.
use_wine_prefix() {  # directory
    export WINEPREFIX=$1
    export WINEDLLOVERRIDES="mscoree,mshtml="
    export WINEDEBUG=-all
    export WINEARCH=win64
}

# A fresh prefix in the given directory, booted; with a third argument an Xvfb
# display of our own starts first. On exit, what the caller started (its pids
# array) stops with the prefix's wineserver.
start_wine_prefix() {  # directory, wineboot log[, Xvfb log]
    pids=()
    trap stop_wine_session EXIT
    use_wine_prefix "$1"
    rm -rf "$WINEPREFIX"
    if [ $# -gt 2 ]; then start_virtual_display "$3"; fi
    wineboot -i >"$2" 2>&1
    wineserver -w
}

stop_wine_session() {
    # Only what this script started, by its id.
    if [ -n "${WINEPREFIX:-}" ]; then wineserver -k 2>/dev/null || true; fi
    for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
}

# An Xvfb display of our own on a free number; sets DISPLAY.
start_virtual_display() {  # log file
    local n
    for n in $(seq 91 140); do
        if [ ! -e "/tmp/.X$n-lock" ] && [ ! -e "/tmp/.X11-unix/X$n" ]; then export DISPLAY=:$n; break; fi
    done
    Xvfb "$DISPLAY" -screen 0 1280x1024x24 -nolisten tcp >"$1" 2>&1 &
    pids+=($!)
    for _ in $(seq 1 100); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.1; done
}

# Wine's WaitCommEvent needs TIOCMGET, which a pty lacks (see DEVELOPERS.md).
build_pty_shim() {  # output .so
    gcc -shared -fPIC -O2 -Wall -Wextra -Werror -o "$1" tests/wine/pty_modem_lines.c -ldl
}

# ostrakan-sim on a new pseudo-terminal, linked at the given absolute path; sets sim_pty.
start_simulator() {  # link, log file, simulator options...
    local link=$1 log=$2
    shift 2
    rm -f "$link"
    build/native/ostrakan-sim --link "$link" "$@" >"$log" 2>&1 &
    pids+=($!)
    for _ in $(seq 1 100); do [ -e "$link" ] && break; sleep 0.1; done
    sim_pty=$(readlink -f "$link")
}

# Makes COMn of the prefix the given device.
map_com_port() {  # COMn, device
    # Wine's mount manager remakes the dosdevices links of COM ports at start-up
    # from HKLM\Software\Wine\Ports, so the mapping goes there as well as into the link.
    wine reg add 'HKLM\Software\Wine\Ports' /v "$1" /t REG_SZ /d "$2" /f >/dev/null 2>&1
    wineserver -w
    ln -sfn "$2" "$WINEPREFIX/dosdevices/$(echo "$1" | tr 'A-Z' 'a-z')"
}

# A Unix path as Wine's Z: drive sees it.
wine_path() {  # absolute path
    echo "Z:$(echo "$1" | tr / '\\')"
}
