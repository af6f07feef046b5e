# Shared by the end-to-end scripts, which set `app_pid` to the program's process and keep its
# output in "$work/stderr.log".

# Waits at most 10 s for the program to end, and fails unless it ended with exit code 0; $1 says
# what ended it.
expect_exit_zero() {
    local status=""
    for _ in $(seq 1 100); do
        if ! kill -0 "$app_pid" 2>/dev/null; then
            wait "$app_pid" && status=0 || status=$?
            break
        fi
        sleep 0.1
    done
    if [[ -z "$status" ]]; then
        echo "FAIL: the program did not end ($1)"
        exit 1
    fi
    if [[ "$status" != 0 ]]; then
        echo "FAIL: exit code $status ($1)"
        cat "$work/stderr.log"
        exit 1
    fi
}
