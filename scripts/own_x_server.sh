# Sourced by the release checks (sh): an X server of the check's own.
# `start_own_x_server WxHxD` starts Xvfb on a display Xvfb chooses itself
# (-displayfd: the first number no server holds, taken atomically, so never
# a display another program or check uses) and exports DISPLAY naming it;
# `stop_own_x_server` ends it (nothing when none runs).  Needs $work, a
# scratch directory.

x_server_pid=""

start_own_x_server() { # screen
    : >"$work/x_display"
    Xvfb -displayfd 3 -screen 0 "$1" -nolisten tcp -noreset 3>"$work/x_display" 2>"$work/x_server.err" &
    x_server_pid=$!
    # The number comes once the server is ready (well under a second): the
    # bound only guards against a hang.
    for _ in $(seq 300); do
        if [ "$(wc -l <"$work/x_display")" -ge 1 ]; then break; fi
        kill -0 "$x_server_pid" 2>/dev/null || break
        sleep 0.1
    done
    if [ "$(wc -l <"$work/x_display")" -lt 1 ]; then
        echo "$0: Xvfb did not start: $(cat "$work/x_server.err")" >&2
        exit 1
    fi
    DISPLAY=":$(head -n 1 "$work/x_display")"
    export DISPLAY
}

stop_own_x_server() {
    if [ -n "$x_server_pid" ]; then
        kill "$x_server_pid" 2>/dev/null || true
        wait "$x_server_pid" 2>/dev/null || true
    fi
    x_server_pid=""
}
