#!/usr/bin/env bash
# Runs a command on a virtual display of its own, and ends with the command's exit code.
# Usage: xvfb.sh command [argument...]
#
# Xvfb chooses a free display number itself (-displayfd) and writes it only once it accepts
# connections, so tests that start at the same moment never race for a number (as they do with
# xvfb-run -a, which picks a number first and starts the server afterwards). -noreset: by default
# the server resets when its last client disconnects and drops whoever connects meanwhile, so a
# program started while a test's xdotool has just left could not connect.
set -euo pipefail

timeout_s=30
log=$(mktemp)
server_pid=""
stop_server() {
    if [[ -n "$server_pid" ]]; then
        kill "$server_pid" 2>/dev/null || true
        wait "$server_pid" 2>/dev/null || true
    fi
    rm -f "$log"
}
trap stop_server EXIT

# The server's standard output is the pipe we read the display number from; when the server
# ends before it is ready, the pipe closes and the read fails at once.
exec {display_fd}< <(exec Xvfb -displayfd 1 -noreset -screen 0 1280x1024x24 -nolisten tcp 2>"$log")
server_pid=$!
if ! read -r -t "$timeout_s" -u "$display_fd" display || [[ ! "$display" =~ ^[0-9]+$ ]]; then
    echo "xvfb.sh: Xvfb ended, or reported no display within ${timeout_s} s" >&2
    cat "$log" >&2
    exit 1
fi

status=0
DISPLAY=":$display" "$@" {display_fd}<&- || status=$?
exit "$status"
