#!/bin/bash
# The shell `make test` runs its steps with: each step runs as under
# /bin/sh, then a line says how long it took, so a slow run shows where its
# time went.  Steps under a second (the job count and the like) say nothing.
# Where VESK_STEP_TIMES names a file, each step of a second or more is also
# added to it (start and end in seconds since the epoch, the processor
# seconds of its processes, its status, the step) for
# scripts/where_the_time_went.py.
#
#   timed_shell.sh -c COMMAND
shift
start=$(date +%s%N)
status=0
/bin/sh -c "$1" || status=$?
end=$(date +%s%N)
elapsed=$(( (end - start) / 100000000 ))
if [ "$elapsed" -ge 10 ]; then
    # (The file keeps the whole step, by which where_the_time_went.py names
    # its part; the line shown, its start.)
    step=$(printf '%s' "$1" | tr -s ' \n\\\t' ' ')
    printf 'make test: %d.%d s: %s\n' $((elapsed / 10)) $((elapsed % 10)) "${step:0:100}" >&2
    if [ -n "${VESK_STEP_TIMES:-}" ]; then
        # The user and system time of its processes, waited for (cutime and
        # cstime of this shell, in clock ticks).
        read -r -a fields </proc/$$/stat
        ticks=$(( fields[15] + fields[16] ))
        hertz=$(getconf CLK_TCK)
        processor="$((ticks / hertz)).$((ticks * 10 / hertz % 10))"
        printf '%s.%s\t%s.%s\t%s\t%d\t%s\n' $((start / 1000000000)) $((start / 100000000 % 10)) \
            $((end / 1000000000)) $((end / 100000000 % 10)) "$processor" "$status" "$step" >>"$VESK_STEP_TIMES"
    fi
fi
exit "$status"
