#!/bin/sh
# Runs every fuzz target in DIR and fails on the first finding.
#
#   run_fuzzers.sh DIR [TOTAL-SECONDS]
#
# Without FUZZ_SECONDS_EACH the targets share TOTAL-SECONDS (each gets an
# equal part, at least one second), so `make test` takes the same time as
# targets are added.  With FUZZ_SECONDS_EACH=N each target runs until it has
# had N seconds of processor time (a longer run, over 60 s, may take several
# passes over its growing corpus to get them on a busy machine).
# FUZZ_JOBS targets run at once (default 1).  Each starts from its seed corpus
# in fuzz/corpus/<name>/ when there is one.  A line per target gives its
# executions, the corpus entries and coverage it added and the processor time
# it took; FUZZ_REPORT=FILE also keeps those lines in FILE.
set -eu

if [ "${1:-}" = "--one" ]; then
    # One target, as the parallel runner below calls it: --one TARGET SECONDS ROOT RESULTS
    target=$2 seconds=$3 root=$4 results=$5
    name=$(basename "$target" | sed 's/^fuzz_//')
    work=$(mktemp -d)
    if [ -d "$root/fuzz/corpus/$name" ]; then
        cp -r "$root/fuzz/corpus/$name/." "$work/"
    fi
    log="$work/fuzz.log"
    start=$(date +%s)
    # A target that waits on its files gets less processor time than wall
    # time on a busy machine: it runs again from the corpus it has grown until
    # it has had SECONDS of processor time, for at most three times that long.
    cpu=0 executions=0 added=0
    while [ "$cpu" -lt "$seconds" ] && [ $(( $(date +%s) - start )) -lt $((3 * seconds)) ]; do
        left=$((seconds - cpu))
        [ "$left" -ge 1 ] || left=1
        status=0
        (cd "$work" && /usr/bin/time -f "cpu %U %S" -o "$work/cpu" \
            "$target" -max_total_time="$left" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 "$work" \
            >>"$log" 2>&1) || status=$?
        if [ "$status" -ne 0 ]; then
            tail -n 60 "$log"
            echo "$name: FOUND a fault; the finding and its log stay in $work" >&2
            echo "$name FAILED $work" >>"$results"
            exit 255 # xargs starts no other target
        fi
        cpu=$((cpu + $(awk '/^cpu/ { printf "%.0f", $2 + $3 }' "$work/cpu")))
        executions=$((executions + $(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)))
        added=$((added + $(sed -n 's/^stat::new_units_added: *//p' "$log" | tail -n 1)))
        [ "$seconds" -gt 60 ] || break # a short run (`make test` shares 45 s): once
    done
    first_cov=$(grep -m 1 -o 'cov: [0-9]*' "$log" | sed 's/cov: //' || true)
    last_cov=$(grep -o 'cov: [0-9]*' "$log" | tail -n 1 | sed 's/cov: //' || true)
    first_ft=$(grep -m 1 -o 'ft: [0-9]*' "$log" | sed 's/ft: //' || true)
    last_ft=$(grep -o 'ft: [0-9]*' "$log" | tail -n 1 | sed 's/ft: //' || true)
    line=$(printf '%-22s %4ss wall %4ss cpu  %10s executions  %5s new inputs  coverage %s -> %s edges, %s -> %s features' \
        "$name" "$(( $(date +%s) - start ))" "${cpu:-?}" "${executions:-?}" "${added:-?}" \
        "${first_cov:-?}" "${last_cov:-?}" "${first_ft:-?}" "${last_ft:-?}")
    echo "$line"
    echo "$line" >>"$results"
    rm -rf "$work"
    exit 0
fi

if [ $# -lt 1 ] || [ $# -gt 2 ]; then
    echo "usage: $0 DIR [TOTAL-SECONDS]" >&2
    exit 2
fi
dir=$(cd "$1" && pwd) # the targets run from a scratch directory
total=${2:-100}
root=$(cd "$(dirname "$0")/.." && pwd)
self="$root/scripts/run_fuzzers.sh"
jobs=${FUZZ_JOBS:-1}
count=0
for target in "$dir"/fuzz_*; do
    [ -x "$target" ] && count=$((count + 1))
done
if [ "$count" -eq 0 ]; then
    echo "$0: no fuzz targets built in $dir" >&2
    exit 1
fi
if [ -n "${FUZZ_SECONDS_EACH:-}" ]; then
    seconds=$FUZZ_SECONDS_EACH
else
    seconds=$((total / count))
fi
[ "$seconds" -ge 1 ] || seconds=1
echo "fuzzing $count targets, ${seconds}s each, $jobs at a time"
results=$(mktemp)
status=0
for target in "$dir"/fuzz_*; do
    [ -x "$target" ] && echo "$target"
done | xargs -P "$jobs" -I '{}' "$self" --one '{}' "$seconds" "$root" "$results" || status=1
if [ -n "${FUZZ_REPORT:-}" ]; then
    sort "$results" >"$FUZZ_REPORT"
fi
rm -f "$results"
exit "$status"
