#!/bin/bash
# Runs COMMAND beside the sanitized suite of `make test`: at the lowest nice
# level while the suite runs, so that it takes what processor time the
# suite's cases leave and no more, then, once the suite has ended (the file
# ENDED exists), at the suite's own priority.  A nice level, not the idle
# class: on a machine that other work keeps busy an idle-class build gets no
# processor at all and `make test` never ends.
#
#   beside_the_suite.sh ENDED COMMAND [ARGUMENT...]
#
# When the suite ends first, COMMAND starts at the normal level.  When it ends
# while COMMAND runs, COMMAND and everything it started are given the normal
# level back (renice, which needs root or a nice limit that allows it); where
# that is refused, COMMAND is stopped and started again at the normal level,
# which the builds this runs (ninja, make) take up where they were.
set -u
ended=$1
shift
[ -e "$ended" ] && exec "$@"

child=""
stop_child() {
    [ -n "$child" ] && kill -TERM -- "-$child" 2>/dev/null
    exit 130
}
trap stop_child INT TERM

# A process group of its own, so that its whole process tree is one group to
# renice; not a session of its own: where the system groups the processes of
# each session and shares the processor evenly between the groups, a nice
# level counts only within its session, and a build in a session of its own
# took half the processors from the suite whatever its level.
set -m
nice -n 19 "$@" &
child=$!
set +m
# COMMAND's process and every process under it: a build tool starts each
# compiler in a process group of its own, which a renice of COMMAND's group
# misses, and a compiler left at the lowest level beside other busy work
# would get almost no processor, for as long as it runs.
processes_under() { # pid
    local all=$1 next=$1 children
    while [ -n "$next" ]; do
        children=$(for pid in $next; do pgrep -P "$pid"; done)
        all="$all $children"
        next=$children
    done
    echo $all
}
give_back_the_normal_level() {
    renice -n 0 -g "$child" >/dev/null 2>&1 || return 1
    # Twice: a process started during the first walk by one not yet reniced
    # is found by the second.
    for _ in 1 2; do
        renice -n 0 -p $(processes_under "$child") >/dev/null 2>&1
    done
    return 0
}
while kill -0 "$child" 2>/dev/null; do
    if [ -e "$ended" ]; then
        # Every process of the group and under it, and so whatever they start
        # from now on.
        if give_back_the_normal_level; then
            echo "beside_the_suite: the suite has ended: '$*' goes on at the normal priority" >&2
            wait "$child"
            exit $?
        fi
        echo "beside_the_suite: the suite has ended: '$*' starts again at the normal priority" >&2
        kill -TERM -- "-$child" 2>/dev/null
        wait "$child"
        child=""
        exec "$@"
    fi
    # (Polled: a sleep of its own, so the wait is not the command's.)
    sleep 1 &
    wait $! 2>/dev/null
done
wait "$child"
