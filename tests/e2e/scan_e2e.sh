#!/usr/bin/env bash
# The real executable on a virtual display, scanning as a user does: "Load Directory to Scan",
# the path typed into the folder dialog; the catalogue holds the tree's files and the status line
# says "Files loaded Successfully!"; then File > Open Folder (Ctrl+O) on a second tree; then a
# changed file, scanned again, opens a "Corruption Warnings" window; then the user selects the
# warning's row there and presses "Update Checksum", the catalogue takes the new digest, and once
# that window is closed a further scan of the same tree warns of nothing; Ctrl+Q ends the run
# with 0.
# Run on a display of its own (xvfb.sh) inside a session bus of its own (dbus-run-session); the
# status line, the list's rows and the buttons are read through the accessibility bus, and
# clicked where it says they are.
# Arguments: the built application folder, then "rescan" to go on to the changed file (the
# warnings window it opens is the one the main window's Open makes), or "accept" to go on from
# there to the checksum update and the quiet scan after it, with the xclose helper as third
# argument (the warnings window is closed as by its close box). With TLM_E2E_SHOTS set to a
# folder, a screenshot of each stage is saved there.
set -euo pipefail
app_dir=$1
stages=${2:-}
xclose=${3:-}
case "$stages" in
"" | rescan) ;;
accept) [[ -x "$xclose" ]] || { echo "usage: scan_e2e.sh APP_DIR accept XCLOSE"; exit 2; } ;;
*) echo "usage: scan_e2e.sh APP_DIR [rescan | accept XCLOSE]"; exit 2 ;;
esac
here=$(cd "$(dirname "$0")" && pwd)
. "$here/a11y.sh"
. "$here/common.sh"

work=$(mktemp -d)
app_pid=""
trap 'if [[ -n "$app_pid" ]]; then kill "$app_pid" 2>/dev/null || true; fi; rm -rf "$work"' EXIT
mkdir -p "$work/app"
cp -r "$app_dir"/. "$work/app/"
rm -f "$work"/app/crcData.rsd*
catalogue=$work/app/crcData.rsd
mkdir -p "$work/tree/sub" "$work/tree2"
printf 'alpha' >"$work/tree/a.txt"
printf 'beta' >"$work/tree/sub/b.txt"
printf 'gamma' >"$work/tree2/c.txt"

fail() {
    echo "FAIL: $*"
    cat "$work/stderr.log" 2>/dev/null || true
    exit 1
}
# A screenshot of the screen, or of the window $2 alone (a dialog reads black in the root's).
shot() {
    if [[ -n "${TLM_E2E_SHOTS:-}" ]]; then
        if [[ -n "${2:-}" ]]; then
            xwd -id "$2" -silent | convert xwd:- "png:$TLM_E2E_SHOTS/$1.png"
        else
            xwd -root -silent | convert xwd:- "png:$TLM_E2E_SHOTS/$1.png"
        fi
    fi
}
# Waits at most $1 tenths of a second for the command that follows to succeed.
wait_until() {
    local tenths=$1
    shift
    for _ in $(seq 1 "$tenths"); do
        "$@" && return 0
        sleep 0.1
    done
    return 1
}
rows() { sqlite3 "$catalogue" "SELECT count(*) FROM fileinfo;" 2>/dev/null || echo 0; }
rows_are() { [[ "$(rows)" == "$1" ]]; }
# The digest the catalogue holds for the tree's a.txt.
stored_crc() {
    sqlite3 "$catalogue" "SELECT crc FROM fileinfo WHERE fullpath LIKE '%:tree:a.txt';" 2>/dev/null
}
status_is() { [[ "$(a11y_name "$A11Y_BUS" "$status_line")" == "$1" ]]; }
# True when the main window shows a text $1 (a list cell, a label).
main_shows() { [[ -n "$(a11y_find_text "$1" "$main_a11y")" ]]; }
# The HMAC-SHA-256 the program stores for a file: keyed with its name, upper-case hex.
digest() {
    openssl dgst -sha256 -hmac "$(basename "$1")" "$1" | sed -E 's/.*= //' | tr 'a-f' 'A-F'
}
# Answers the folder dialog that is opening: types the folder's path and presses Return.
choose_folder() {
    local dialog=""
    for _ in $(seq 1 100); do
        dialog=$(xdotool search --onlyvisible --name '^Find Directory$' 2>/dev/null | head -n 1 || true)
        [[ -n "$dialog" ]] && break
        sleep 0.1
    done
    [[ -n "$dialog" ]] || fail "no folder dialog appeared"
    xdotool windowfocus --sync "$dialog" 2>/dev/null || true
    xdotool key --clearmodifiers ctrl+a
    xdotool type --delay 5 "$1"
    shot "$2-dialog" "$dialog"
    xdotool key Return
    wait_until 100 bash -c "! xdotool search --onlyvisible --name '^Find Directory$' >/dev/null 2>&1" ||
        fail "the folder dialog did not close"
}
press_scan_button() { a11y_click "$scan_button"; }
expect_row() {
    local file=$1 suffix=$2 got
    got=$(sqlite3 "$catalogue" "SELECT name || '|' || resource || '|' || isfolder || '|' || exempt \
        || '|' || crc FROM fileinfo WHERE fullpath LIKE '%$suffix';")
    [[ "$got" == "$(basename "$file")|<data>|0|0|$(digest "$file")" ]] ||
        fail "the row of $suffix is '$got'"
}

export QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1
"$work/app/tallowmere" >"$work/stderr.log" 2>&1 &
app_pid=$!
window=""
wait_until 200 bash -c "xdotool search --name '^Tallowmere -  Version 1\.0\.0$' >/dev/null 2>&1" ||
    fail "no main window appeared"
window=$(xdotool search --name '^Tallowmere -  Version 1\.0\.0$' | head -n 1)
a11y_find_application tallowmere || fail "the program is not on the accessibility bus"
main_a11y=$(a11y_find_window "Tallowmere -  Version 1.0.0")
[[ -n "$main_a11y" ]] || fail "the main window is not on the accessibility bus"
scan_button=$(a11y_find_text "Load Directory to Scan")
[[ -n "$scan_button" ]] || fail "no 'Load Directory to Scan' button on the accessibility bus"
shot 1-started

# The button, then the path typed into Qt's own folder dialog.
press_scan_button
choose_folder "$work/tree" 2-button
wait_until 300 rows_are 2 || fail "the catalogue holds $(rows) rows after the first scan, not 2"
status_line=""
for _ in $(seq 1 30); do
    status_line=$(a11y_find_text "Files loaded Successfully!")
    [[ -n "$status_line" ]] && break
    sleep 0.5
done
[[ -n "$status_line" ]] || fail "the status line never said 'Files loaded Successfully!'"
shot 3-button-scanned
expect_row "$work/tree/a.txt" ":tree:a.txt"
expect_row "$work/tree/sub/b.txt" ":tree:sub:b.txt"

# File > Open Folder through its shortcut. A small tree's scan may be over before a loaded
# machine has looked at the status line once, so the scan's end is known by what it leaves: the
# new file in the reloaded list, and only then the loader's last status text.
xdotool windowfocus --sync "$window" 2>/dev/null || true
xdotool key --clearmodifiers ctrl+o
choose_folder "$work/tree2" 4-menu
wait_until 100 main_shows "c.txt" || fail "the second scan's file never reached the main list"
wait_until 300 status_is "Files loaded Successfully!" || fail "the second load never finished"
rows_are 3 || fail "the catalogue holds $(rows) rows after the second scan, not 3"
expect_row "$work/tree2/c.txt" ":tree2:c.txt"
shot 5-menu-scanned

quit_with_zero() {
    xdotool windowfocus --sync "$window" 2>/dev/null || true
    xdotool key --clearmodifiers ctrl+q
    expect_exit_zero "Ctrl+Q"
    app_pid=""
}
scan_lines() { grep -c '^\[TLM\]: Scan started: [0-9-]\{10\} [0-9:]\{8\}$' "$work/stderr.log" || true; }

if [[ -z "$stages" ]]; then
    [[ "$(scan_lines)" == 2 ]] || fail "the debug log does not hold two scan-start lines"
    quit_with_zero
    echo "PASS: scans from the button and from Ctrl+O catalogued both trees"
    exit 0
fi

# A changed file: its row keeps the old digest and the rescan warns of it.
stored=$(stored_crc)
printf 'alpha, changed' >"$work/tree/a.txt"
press_scan_button
choose_folder "$work/tree" 6-rescan
wait_until 300 bash -c "xdotool search --onlyvisible --name '^Corruption Warnings$' >/dev/null 2>&1" ||
    fail "no 'Corruption Warnings' window appeared after the rescan"
wait_until 300 status_is "Files loaded Successfully!" || fail "the third load never finished"
shot 7-main
shot 8-warning "$(xdotool search --onlyvisible --name '^Corruption Warnings$' | head -n 1)"
[[ "$(stored_crc)" == "$stored" ]] ||
    fail "the changed file's stored digest changed"
rows_are 3 || fail "the rescan added rows: $(rows)"
[[ "$(scan_lines)" == 3 ]] || fail "the debug log does not hold three scan-start lines"
if [[ "$stages" == rescan ]]; then
    quit_with_zero
    echo "PASS: scans from the button and from Ctrl+O catalogued both trees; a changed file warned"
    exit 0
fi

# The warning accepted: its row selected in the warnings window, then "Update Checksum".
visible_warnings() {
    xdotool search --onlyvisible --name '^Corruption Warnings$' 2>/dev/null | wc -l
}
visible_warnings_are() { [[ "$(visible_warnings)" == "$1" ]]; }
visible_warnings_are 1 || fail "$(visible_warnings) warnings windows are on screen, not 1"
warning_window=$(xdotool search --onlyvisible --name '^Corruption Warnings$')
warnings=$(a11y_find_window "Corruption Warnings")
[[ -n "$warnings" ]] || fail "the warnings window is not on the accessibility bus"
new=$(digest "$work/tree/a.txt")
[[ "$new" != "$stored" ]] || fail "the changed file's digest is the stored one"
[[ "$(a11y_count_text "$stored" "$warnings")" == 1 &&
    "$(a11y_count_text "$new" "$warnings")" == 1 ]] ||
    fail "the warning's row does not show the stored digest and the new one once each"
update=$(a11y_find_text "Update Checksum" "$warnings")
row=$(a11y_find_text "a.txt" "$warnings")
[[ -n "$update" && -n "$row" ]] ||
    fail "no 'Update Checksum' button or no row of a.txt in the warnings window"
! a11y_enabled "$update" || fail "'Update Checksum' is enabled with no row selected"
a11y_click "$row"
wait_until 100 a11y_enabled "$update" || fail "selecting the row did not enable 'Update Checksum'"
shot 9-warning-selected "$warning_window"
a11y_click "$update"
stored_is_new() { [[ "$(stored_crc)" == "$new" ]]; }
wait_until 100 stored_is_new || fail "the catalogue row of a.txt does not hold the new digest"
expect_row "$work/tree/a.txt" ":tree:a.txt"
rows_are 3 || fail "updating the checksum changed the number of rows: $(rows)"
# The row's "Last Calc" now reads the digest it took; the button is back once the update is done.
new_shown_twice() { [[ "$(a11y_count_text "$new" "$warnings")" == 2 ]]; }
wait_until 100 new_shown_twice ||
    fail "the warning's row does not show the new digest as its last one"
wait_until 100 a11y_enabled "$update" || fail "'Update Checksum' stayed disabled after the update"
shot 10-warning-updated "$warning_window"

# The window closed as by its close box, then the same tree scanned again: nothing to warn of.
"$xclose" "$warning_window"
wait_until 100 visible_warnings_are 0 || fail "the warnings window did not close"
press_scan_button
choose_folder "$work/tree" 11-accepted-rescan
# Only the reload after this scan puts the new digest into the main list.
wait_until 100 main_shows "$new" || fail "the reloaded main list does not show the new digest"
wait_until 300 status_is "Files loaded Successfully!" || fail "the fourth load never finished"
[[ "$(scan_lines)" == 4 ]] || fail "the debug log does not hold four scan-start lines"
# The comparison runs before the reload that ends on "Files loaded Successfully!", so a warning
# would be on screen by now.
visible_warnings_are 0 || fail "the scan after 'Update Checksum' opened a warnings window"
[[ -z "$(a11y_find_window "Corruption Warnings")" ]] ||
    fail "a warnings window is on the accessibility bus after the scan"
stored_is_new || fail "the scan after 'Update Checksum' changed the stored digest"
rows_are 3 || fail "the scan after 'Update Checksum' added rows: $(rows)"
shot 12-accepted-rescanned
quit_with_zero
echo "PASS: a changed file warned; 'Update Checksum' stored its new digest; the scan after it" \
    "warned of nothing"
