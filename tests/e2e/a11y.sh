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

# Every object below the application's root, depth first, one "path<TAB>name" line each.
a11y_tree() {
    local pending=(/org/a11y/atspi/accessible/root) path children
    while ((${#pending[@]})); do
        path=${pending[-1]}
        unset 'pending[-1]'
        printf '%s\t%s\n' "$path" "$(a11y_name "$A11Y_BUS" "$path")"
        children=$(gdbus call --address "$A11Y_ADDRESS" --dest "$A11Y_BUS" --object-path "$path" \
            --method org.a11y.atspi.Accessible.GetChildren 2>/dev/null |
            grep -oE "'/org/a11y/atspi/accessible/[^']+'" | tr -d "'" | tac)
        for path in $children; do pending+=("$path"); done
    done
}

# The path of the first object whose name is $1, or nothing.
a11y_find_text() {
    a11y_tree | awk -F '\t' -v want="$1" '$2 == want { print $1; exit }'
}
