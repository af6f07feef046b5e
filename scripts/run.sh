#!/usr/bin/env bash
# Builds Tallowmere (installing what is missing) and starts it.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
bash "$root/scripts/build.sh" tallowmere
app="$root/build/Tallowmere/tallowmere"
if [[ -z "${DISPLAY:-}" && -z "${WAYLAND_DISPLAY:-}" && -z "${QT_QPA_PLATFORM:-}" ]]; then
    echo "Tallowmere is built, but there is no graphical display to show it on (DISPLAY is unset)."
    echo "Start it on a desktop session, or on a virtual display with:"
    echo "    xvfb-run -a $app"
    exit 1
fi
exec "$app" "$@"
