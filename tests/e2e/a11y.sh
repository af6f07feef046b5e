# Reads what the program's windows show through the accessibility bus (AT-SPI), which Qt serves
# when QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1: a label's text is its accessible name. Sourced by the
# end-to-end scripts, which run inside a session bus of their own (dbus-run-session).

# The accessibility bus's address, from the session bus (which starts the bus on request).
a11y_address() {
    gdbus call --session --dest org.a11y.Bus --object-path /org/a11y/bus \
        --method org.a11y.Bus.GetAddress | sed -E "s/^\('(.*)',\)$/\1/"
}

# Sets A11Y_ADDRESS and A11Y_BUS (the connection of the application called $1 on that bus);
# waits for it at most 10 s.
a11y_find_application() {
    local want=$1 name try
    A11Y_ADDRESS=$(a11y_address)
    for try in $(seq 1 100); do
        for name in $(gdbus call --address "$A11Y_ADDRESS" --dest org.freedesktop.DBus \
            --object-path /org/freedesktop/DBus --method org.freedesktop.DBus.ListNames |
            grep -oE "':[0-9.]+'" | tr -d "'"); do
            if [[ "$(a11y_name "$name" /org/a11y/atspi/accessible/root)" == "$want" ]]; then
                A11Y_BUS=$name
                return 0
            fi
        done
        sleep 0.1
    done
    echo "FAIL: no application called '$want' on the accessibility bus"
    return 1
}

# The accessible name of the object at path $2 of connection $1 (default: the application's).
a11y_name() {
    gdbus call --address "$A11Y_ADDRESS" --dest "$1" --object-path "$2" \
        --method org.freedesktop.DBus.Properties.Get org.a11y.atspi.Accessible Name 2>/dev/null |
        sed -E "s/^\(<'(.*)'>,\)$/\1/"
}

# Every object below the object at path $1 (default: the application's root), depth first, one
# "path<TAB>name" line each.
a11y_tree() {
    local pending=("${1:-/org/a11y/atspi/accessible/root}") path children
    while ((${#pending[@]})); do
        path=${pending[-1]}
        unset 'pending[-1]'
        # The reader may have found what it wanted and gone: then the walk stops too, also where
        # SIGPIPE is ignored and the write merely fails.
        printf '%s\t%s\n' "$path" "$(a11y_name "$A11Y_BUS" "$path")" || return 0
        children=$(gdbus call --address "$A11Y_ADDRESS" --dest "$A11Y_BUS" --object-path "$path" \
            --method org.a11y.atspi.Accessible.GetChildren 2>/dev/null |
            grep -oE "'/org/a11y/atspi/accessible/[^']+'" | tr -d "'" | tac || true)
        for path in $children; do pending+=("$path"); done
    done
}

# The path of the first object whose name is $1, or nothing; with $2, only below the object at
# that path (a window's own controls, not the same caption or cell text in another window).
# Read here rather than by awk, which (mawk) takes its whole input before it acts on a line: the
# walk then ends at the first match instead of going through every window.
a11y_find_text() {
    local path name
    while IFS=$'\t' read -r path name; do
        if [[ "$name" == "$1" ]]; then
            echo "$path"
            return 0
        fi
    done < <(a11y_tree "${2:-}")
}

# The path of the application's window titled $1, or nothing: its windows alone are looked at,
# not everything inside them.
a11y_find_window() {
    local path windows
    windows=$(gdbus call --address "$A11Y_ADDRESS" --dest "$A11Y_BUS" \
        --object-path /org/a11y/atspi/accessible/root \
        --method org.a11y.atspi.Accessible.GetChildren |
        grep -oE "'/org/a11y/atspi/accessible/[^']+'" | tr -d "'" || true)
    for path in $windows; do
        if [[ "$(a11y_name "$A11Y_BUS" "$path")" == "$1" ]]; then
            echo "$path"
            return 0
        fi
    done
}

# How many objects below the object at path $2 are named $1.
a11y_count_text() {
    a11y_tree "$2" | awk -F '\t' -v want="$1" '$2 == want { n++ } END { print n + 0 }'
}

# "x y width height" of the object at path $1, in screen coordinates.
a11y_extents() {
    gdbus call --address "$A11Y_ADDRESS" --dest "$A11Y_BUS" --object-path "$1" \
        --method org.a11y.atspi.Component.GetExtents 0 | grep -oE '[0-9-]+' | tr '\n' ' '
}

# True when the object at path $1 is enabled (AT-SPI state ENABLED, bit 8 of the first word).
a11y_enabled() {
    local word
    word=$(gdbus call --address "$A11Y_ADDRESS" --dest "$A11Y_BUS" --object-path "$1" \
        --method org.a11y.atspi.Accessible.GetState | sed -nE 's/^\(\[uint32 ([0-9]+), .*/\1/p')
    [[ -n "$word" ]] && ((word >> 8 & 1))
}

# Clicks the middle of the object at path $1 with the pointer, as a user does.
a11y_click() {
    local x y w h
    read -r x y w h <<<"$(a11y_extents "$1")"
    xdotool mousemove "$((x + w / 2))" "$((y + h / 2))" click 1
}
