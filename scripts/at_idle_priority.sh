#!/bin/sh
# Runs COMMAND at the lowest priority the system has: it gets a processor
# only when nothing else wants one (SCHED_IDLE), and its disk writes wait for
# everybody else's (the idle class, where the disk's scheduler has one).
# Where neither can be had, it runs at the lowest nice level.  `make test`
# builds beside the sanitized suite with it.
#
#   at_idle_priority.sh COMMAND [ARGUMENT...]
if chrt --idle 0 ionice -c 3 true 2>/dev/null; then
    exec chrt --idle 0 ionice -c 3 "$@"
fi
exec nice -n 19 "$@"
