#!/bin/sh
# Runs every fuzz target in DIR for SECONDS each, starting from its seed corpus
# in fuzz/corpus/<name>/ when there is one.  Fails on the first finding.
set -eu
dir=$(cd "$1" && pwd) # the targets run from a scratch directory
seconds=${2:-20}
root=$(cd "$(dirname "$0")/.." && pwd)
found=0
for target in "$dir"/fuzz_*; do
    [ -x "$target" ] || continue
    found=1
    name=$(basename "$target" | sed 's/^fuzz_//')
    work=$(mktemp -d)
    if [ -d "$root/fuzz/corpus/$name" ]; then
        cp -r "$root/fuzz/corpus/$name/." "$work/"
    fi
    echo "fuzzing $name for ${seconds}s"
    (cd "$work" && "$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 "$work" >"$work/fuzz.log" 2>&1) || {
        tail -n 60 "$work/fuzz.log"; exit 1; }
    tail -n 3 "$work/fuzz.log"
    rm -rf "$work"
done
[ "$found" -eq 1 ] || echo "no fuzz targets built"
