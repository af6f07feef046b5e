#!/usr/bin/env bash
# The real executable where a display is set but cannot be reached: it says so on stderr and
# ends with 1 at once, instead of letting Qt abort. No display server is started.
# Argument: the executable.
set -euo pipefail
exe=$1

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

failures=0
# Runs the executable with exactly the display variables given and checks its end and words.
expect_refusal() {
    local situation=$1 words=$2
    shift 2
    local status=0
    env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM -u XDG_SESSION_TYPE "$@" \
        timeout 30 "$exe" >"$work/stdout.log" 2>"$work/stderr.log" || status=$?
    if [[ "$status" != 1 ]]; then
        echo "FAIL ($situation): exit code $status, not 1"
        cat "$work/stderr.log"
        failures=$((failures + 1))
    elif ! grep -qF -- "$words" "$work/stderr.log"; then
        echo "FAIL ($situation): stderr does not say '$words':"
        cat "$work/stderr.log"
        failures=$((failures + 1))
    fi
}

expect_refusal "an X display nobody serves" "DISPLAY=:12345 does not answer" DISPLAY=:12345
expect_refusal "Qt told to use X11 on a silent display" "DISPLAY=:12345 does not answer" \
    QT_QPA_PLATFORM=xcb DISPLAY=:12345
expect_refusal "a Wayland socket nobody listens on" "WAYLAND_DISPLAY=$work/wayland-0 does not answer" \
    WAYLAND_DISPLAY="$work/wayland-0"
expect_refusal "no display at all" "none was found"

if ((failures > 0)); then
    exit 1
fi
echo "PASS: every unreachable display is named on stderr and the run ends with 1"
