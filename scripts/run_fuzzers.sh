#!/bin/sh
# Runs every fuzz target in DIR, sharing TOTAL-SECONDS among them (each gets
# an equal part, at least one second), so the time stays the same as targets
# are added.  Each starts from its seed corpus in fuzz/corpus/<name>/ when
# there is one.  Fails on the first finding.
set -eu
if [ $# -lt 1 ] || [ $# -gt 2 ]; then
    echo "usage: $0 DIR [TOTAL-SECONDS]" >&2
    exit 2
fi
dir=$(cd "$1" && pwd) # the targets run from a scratch directory
total=${2:-100}
root=$(cd "$(dirname "$0")/.." && pwd)
count=0
for target in "$dir"/fuzz_*; do
    [ -x "$target" ] && count=$((count + 1))
done
if [ "$count" -eq 0 ]; then
    echo "$0: no fuzz targets built in $dir" >&2
    exit 1
fi
seconds=$((total / count))
[ "$seconds" -ge 1 ] || seconds=1
echo "fuzzing $count targets, ${seconds}s each (${total}s in all)"
for target in "$dir"/fuzz_*; do
    [ -x "$target" ] || continue
    name=$(basename "$target" | sed 's/^fuzz_//')
    work=$(mktemp -d)
    if [ -d "$root/fuzz/corpus/$name" ]; then
        cp -r "$root/fuzz/corpus/$name/." "$work/"
    fi
    echo "fuzzing $name for ${seconds}s"
    (cd "$work" && "$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 "$work" >"$work/fuzz.log" 2>&1) || {
        tail -n 60 "$work/fuzz.log"; echo "the finding and its log stay in $work" >&2; exit 1; }
    tail -n 3 "$work/fuzz.log"
    rm -rf "$work"
done
