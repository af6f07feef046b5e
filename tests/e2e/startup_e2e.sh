#!/usr/bin/env bash
# The real executable on a virtual display: a first run creates the catalogue beside the
# executable, the main window shows its title, and closing the window ends the run with 0.
# A second run opens the catalogue it left and ends with 0 on File > Quit (Ctrl+Q). Each close
# writes the preferences file: the window's place (dragged partly off the screen first) and size,
# and the list's column widths.
# Run on a display of its own (xvfb.sh); arguments: the built application folder and the xclose
# helper.
set -euo pipefail
app_dir=$1
xclose=$2

work=$(mktemp -d)
trap 'if [[ -n "$app_pid" ]]; then kill "$app_pid" 2>/dev/null || true; fi; rm -rf "$work"' EXIT
app_pid=""
. "$(dirname "$0")/common.sh"
cp -r "$app_dir"/. "$work/"
rm -f "$work"/crcData.rsd*
# The preferences file goes to a folder of the test, never the user's own.
export XDG_CONFIG_HOME="$work/config"
mkdir -p "$XDG_CONFIG_HOME"
prefs="$XDG_CONFIG_HOME/Brindlecove_Prefs"

start_and_find_window() {
    "$work/tallowmere" >"$work/stderr.log" 2>&1 &
    app_pid=$!
    window=""
    for _ in $(seq 1 200); do
        window=$(xdotool search --name '^Tallowmere -  Version 1\.0\.0$' 2>/dev/null | head -n 1 || true)
        [[ -n "$window" ]] && return 0
        sleep 0.1
    done
    echo "FAIL: no window titled 'Tallowmere -  Version 1.0.0' appeared"
    cat "$work/stderr.log"
    exit 1
}

start_and_find_window

schema=$(sqlite3 "$work/crcData.rsd" "SELECT type || ' ' || name FROM sqlite_master ORDER BY rowid;")
expected=$'table dbver\ntable fileinfo\nindex fileinfo_index_idx\nindex fileinfo_index_paridx\nindex fileinfo_index_path'
if [[ "$schema" != "$expected" ]]; then
    echo "FAIL: catalogue schema is:"
    echo "$schema"
    exit 1
fi
version=$(sqlite3 "$work/crcData.rsd" "SELECT version FROM dbver;")
[[ "$version" == "1.0" ]] || { echo "FAIL: dbver holds '$version'"; exit 1; }

# Moved as a window manager would; the server sends the move to the program before the close
# request that follows it.
xdotool windowmove "$window" -40 -30
"$xclose" "$window"
expect_exit_zero "window closed"
expected_prefs=$'-40\n-30\n846\n651\n*, 65, 185, 60'
if [[ "$(cat "$prefs")" != "$expected_prefs" ]]; then
    echo "FAIL: the preferences file holds:"
    cat "$prefs"
    exit 1
fi

start_and_find_window
xdotool windowfocus --sync "$window" 2>/dev/null || true
xdotool key --clearmodifiers ctrl+q
expect_exit_zero "File > Quit"
[[ $(wc -l <"$prefs") == 5 ]] || { echo "FAIL: the second run left no preferences file of five lines"; exit 1; }
echo "PASS: window shown, catalogue created, exit code 0 after the close box and after File > Quit, preferences written at each close"
