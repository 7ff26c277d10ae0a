#!/bin/sh
# Runs the sanitized cases that wait on time (X servers, sound systems,
# real-time network games, timers, long replays) on a machine made slow on
# purpose, and says which passed:
#   1. busy: one busy loop per processor at normal priority beside them;
#   2. halved: two copies of the cases at once, both on half the processors
#      (taskset), so each case has about a quarter of the machine it would
#      have alone.
# A case that holds a wall-clock figure tuned on a fast machine, or shares a
# display, port or folder with another case, fails here.
#
#   scripts/check_suite_under_load.sh [build directory, default build/asan]
#
# The build must be made (`make check-sanitized` makes and runs it).
# CASES (a ctest regular expression) chooses other cases; JOBS (default:
# half the processors) is how many run at a time in each copy; LOOPS
# (default: one per processor) how many busy loops run beside the first
# run, fewer on a machine shared with others.  Exits 1 when
# a case failed in either run; the failures are listed at the end.
set -u

build=${1:-build/asan}
processors=$(nproc)
half=$(( processors / 2 > 0 ? processors / 2 : 1 ))
jobs=${JOBS:-$half}
busy_loops=${LOOPS:-$processors}
# The cases that wait on a clock, an X server, a sound system or a real-time
# network game, and the longest replays.
cases=${CASES:-'sound_startup_processes|lan_join_window|preferences_volume|weather_window|screen_window|camera_window|demo_map_replay|film_kill_groups|timer_task|keyboard_task|input_device|tcp_loopback|web_links|crash_test|game_sound|openal|net_link_processes|hostile_host|networking_.*_processes|net_chat_processes|net_chat_flood_processes|net_join_flood_processes|net_hostile_command_processes'}

if [ ! -f "$build/CTestTestfile.cmake" ]; then
    echo "check_suite_under_load: no test build in $build (make check-sanitized)" >&2
    exit 2
fi
command -v taskset >/dev/null || { echo "check_suite_under_load: taskset is missing (util-linux)" >&2; exit 2; }

export ASAN_OPTIONS=detect_leaks=1:abort_on_error=0:intercept_tls_get_addr=0
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
work=$(mktemp -d "${TMPDIR:-/tmp}/vesk_under_load_XXXXXX")
loops=""
stop_loops() {
    for pid in $loops; do kill "$pid" 2>/dev/null; done
    for pid in $loops; do wait "$pid" 2>/dev/null; done
    loops=""
}
trap 'stop_loops; rm -rf "$work"' EXIT
trap 'exit 130' INT TERM

# The cases of the programs are listed once before the two copies run, so
# that they never write the same lists at once.
(cd "$build" && ctest -N -R "$cases" >"$work/listed.txt" 2>&1)
count=$(grep -c "Test *#" "$work/listed.txt")
if [ "$count" -eq 0 ]; then
    echo "check_suite_under_load: no case matches '$cases'" >&2
    exit 2
fi

# One ctest run of the cases: its log in $work/$1.log, the names of its
# failed cases in $work/$1.failed.
run_cases() {
    name=$1
    shift
    (cd "$build" && "$@" ctest -R "$cases" -j "$jobs" --output-on-failure >"$work/$name.log" 2>&1)
    sed -n 's/^[[:space:]]*[0-9]* - \(.*\) (\(Failed\|Timeout\|SEGFAULT\|Subprocess aborted\|Exception\|Not Run\).*$/\1 (\2)/p' \
        "$work/$name.log" >"$work/$name.failed"
    started=$(grep -c "Test *#" "$work/$name.log")
    failed=$(wc -l <"$work/$name.failed")
    echo "$name: $(( started - failed )) of $started cases passed ($(grep -o 'Total Test time (real) = *[0-9.]* sec' "$work/$name.log" | tr -s ' '))"
}

echo "$count cases, $jobs at a time, on $processors processors ($busy_loops busy loops beside the first run)"
echo "load before: $(cut -d' ' -f1-3 /proc/loadavg)"

# 1. Every processor busy beside the cases.
for i in $(seq "$busy_loops"); do
    (while :; do :; done) &
    loops="$loops $!"
done
pace="$(dirname "$0")/../tests/support/machine_pace.py"
echo "busy: the machine runs $(python3 "$pace") times slower than the reference (tests/support/machine_pace.py)"
run_cases busy env
stop_loops

# 2. Half the processors, two copies of the cases at once on them.
cpus="0-$(( half - 1 ))"
echo "halved: two copies on processors $cpus (before they start, $(taskset -c "$cpus" python3 "$pace") times slower than the reference there)"
run_cases halved_a taskset -c "$cpus" &
first=$!
run_cases halved_b taskset -c "$cpus"
wait "$first"

status=0
for name in busy halved_a halved_b; do
    if [ -s "$work/$name.failed" ]; then
        status=1
        echo "failed in $name:"
        sed 's/^/    /' "$work/$name.failed"
        kept="${TMPDIR:-/tmp}/vesk_under_load_$name.log"
        cp "$work/$name.log" "$kept"
        echo "    (its output: $kept)"
    fi
done
[ "$status" -eq 0 ] && echo "every case passed in every run"
exit "$status"
