# The WebSocket relay to a simulated unit, shared by run-web.sh and the browser
# test: ostrakan-sim on a pseudo-terminal, socat between the terminal (raw) and a
# local TCP port, and Debian's websockify between that port and a WebSocket, the
# set-up a real unit behind a serial server uses (README, "The browser edition").
# Usage (sourced): start_sim DIR [sim options...]; start_relay WS_PORT; stop_relay; stop_sim
TCP_PORT=${TCP_PORT:-7017}

start_sim() {
    local dir=$1
    shift
    mkdir -p "$dir"
    rm -f "$dir/com1"
    build/native/ostrakan-sim --link "$dir/com1" --trace-file "$dir/sim-trace.log" "$@" >"$dir/sim.log" 2>&1 &
    SIM_PID=$!
    for _ in $(seq 100); do [ -e "$dir/com1" ] && break; sleep 0.05; done
    [ -e "$dir/com1" ] || { echo "ostrakan-sim did not start: $(cat "$dir/sim.log")" >&2; return 1; }
    # One connection at a time; each opens the terminal raw, as the serial port is opened.
    # -t: a connection whose relay went away lets go of the terminal at once, so it
    # takes none of the answers meant for the next one.
    socat -t 0.05 "TCP-LISTEN:$TCP_PORT,bind=127.0.0.1,reuseaddr,fork" "FILE:$dir/com1,raw,echo=0,b9600" \
        >"$dir/socat.log" 2>&1 &
    SOCAT_PID=$!
}

start_relay() {
    local ws_port=$1
    websockify "127.0.0.1:$ws_port" "127.0.0.1:$TCP_PORT" >>"${RELAY_LOG:-/dev/null}" 2>&1 &
    RELAY_PID=$!
    for _ in $(seq 100); do
        (exec 3<>"/dev/tcp/127.0.0.1/$ws_port") 2>/dev/null && return 0
        sleep 0.05
    done
    echo "websockify did not start" >&2
    return 1
}

# A killed process's wait status is not a failure here.
stop_relay() {
    if [ -n "${RELAY_PID:-}" ]; then kill "$RELAY_PID" 2>/dev/null || true; wait "$RELAY_PID" 2>/dev/null || true; fi
    RELAY_PID=
}
stop_sim() {
    local p
    for p in ${SOCAT_PID:-} ${SIM_PID:-}; do
        kill "$p" 2>/dev/null || true
        wait "$p" 2>/dev/null || true
    done
    SOCAT_PID= SIM_PID=
    return 0
}
