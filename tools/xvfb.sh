# A private Xvfb for the scripts.
# shellcheck shell=bash

# start_xvfb LOG_FILE: starts Xvfb on a free display, logging to LOG_FILE, and waits until it
# accepts clients. Sets xvfb_pid and xvfb_display; returns non-zero if it did not start.
start_xvfb() {
    local log=$1 display_file number
    display_file=$(mktemp)
    # Xvfb picks the display and writes its number once it accepts connections. Without
    # -noreset it resets whenever its last client leaves, and a client connecting during the
    # reset is turned away.
    Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp -noreset 3>"$display_file" \
        2>"$log" &
    xvfb_pid=$!
    for _ in $(seq 100); do
        [ -s "$display_file" ] && break
        kill -0 "$xvfb_pid" 2>/dev/null || break
        sleep 0.1
    done
    number=$(head -n 1 "$display_file")
    rm -f "$display_file"
    [ -n "$number" ] || return 1
    xvfb_display=:$number
}

# stop_xvfb: stops the Xvfb that start_xvfb started, if one runs, and waits for it to go.
stop_xvfb() {
    stop_pid "${xvfb_pid:-}"
    xvfb_pid=
}

# stop_program_and_xvfb: stops the program in program_pid, if one runs, then the Xvfb; the
# exit trap of the scripts that run the program on it.
stop_program_and_xvfb() {
    stop_pid "${program_pid:-}"
    program_pid=
    stop_xvfb
}

stop_pid() {
    [ -n "$1" ] || return 0
    kill "$1" 2>/dev/null || true
    wait "$1" 2>/dev/null || true
}
