#!/bin/bash
# The shell `make test` runs its steps with: each step runs as under
# /bin/sh, then a line says how long it took, so a slow run shows where its
# time went.  Steps under a second (the job count and the like) say nothing.
#
#   timed_shell.sh -c COMMAND
shift
start=$(date +%s%N)
status=0
/bin/sh -c "$1" || status=$?
elapsed=$(( ($(date +%s%N) - start) / 100000000 ))
if [ "$elapsed" -ge 10 ]; then
    step=$(printf '%s' "$1" | tr -s ' \n\\' ' ' | cut -c1-100)
    printf 'make test: %d.%d s: %s\n' $((elapsed / 10)) $((elapsed % 10)) "$step" >&2
fi
exit "$status"
