#!/usr/bin/env bash
# The real executable on a virtual display: a first run creates the catalogue beside the
# executable, the main window shows its title, and closing the window ends the run with 0.
# Run under xvfb-run; arguments: the built application folder and the xclose helper.
set -euo pipefail
app_dir=$1
xclose=$2

work=$(mktemp -d)
trap 'kill "$app_pid" 2>/dev/null || true; rm -rf "$work"' EXIT
cp -r "$app_dir"/. "$work/"
rm -f "$work"/crcData.rsd*

"$work/tallowmere" >"$work/stderr.log" 2>&1 &
app_pid=$!

window=""
for _ in $(seq 1 200); do
    window=$(xdotool search --name '^Tallowmere -  Version 1\.0\.0$' 2>/dev/null | head -n 1 || true)
    [[ -n "$window" ]] && break
    sleep 0.1
done
if [[ -z "$window" ]]; then
    echo "FAIL: no window titled 'Tallowmere -  Version 1.0.0' appeared"
    cat "$work/stderr.log"
    exit 1
fi

schema=$(sqlite3 "$work/crcData.rsd" "SELECT type || ' ' || name FROM sqlite_master ORDER BY rowid;")
expected=$'table dbver\ntable fileinfo\nindex fileinfo_index_idx\nindex fileinfo_index_paridx\nindex fileinfo_index_path'
if [[ "$schema" != "$expected" ]]; then
    echo "FAIL: catalogue schema is:"
    echo "$schema"
    exit 1
fi
version=$(sqlite3 "$work/crcData.rsd" "SELECT version FROM dbver;")
[[ "$version" == "1.0" ]] || { echo "FAIL: dbver holds '$version'"; exit 1; }

"$xclose" "$window"
status=""
for _ in $(seq 1 100); do
    if ! kill -0 "$app_pid" 2>/dev/null; then
        wait "$app_pid" && status=0 || status=$?
        break
    fi
    sleep 0.1
done
if [[ -z "$status" ]]; then
    echo "FAIL: the program did not end after its window was closed"
    exit 1
fi
if [[ "$status" != 0 ]]; then
    echo "FAIL: exit code $status"
    cat "$work/stderr.log"
    exit 1
fi
echo "PASS: window shown, catalogue created, exit code 0"
