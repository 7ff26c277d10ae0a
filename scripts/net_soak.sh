#!/bin/sh
# Plays one network game of the demo map between N vesk_sim processes on
# 127.0.0.1 (one host, N-1 joiners, each with random orders) for T ticks and
# says whether every process printed the same hash lines.  The games run in
# real time: 18000 ticks are ten minutes.
#
#     scripts/net_soak.sh PROGRAM-DIRECTORY [PLAYERS [TICKS]]
#
# PROGRAM-DIRECTORY holds vesk_sim and the demo data set (build_demo_data.sh).
set -eu
if [ $# -lt 1 ]; then
    echo "usage: $0 PROGRAM-DIRECTORY [PLAYERS [TICKS]]" >&2
    exit 2
fi
bin=$(cd "$1" && pwd)
players=${2:-8}
ticks=${3:-18000}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT INT TERM
port=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
for i in $(seq 1 "$players"); do
    mkdir -p "$work/$i/preferences"
    ln -s "$bin/tags" "$work/$i/tags"
    ln -s "$bin/plugins" "$work/$i/plugins"
done
"$bin/vesk_sim" --data "$work/1" --net-host "$port" --players "$players" --map demo --seed 7 --ticks "$ticks" \
    --random-orders 1 >"$work/1.out" 2>"$work/1.err" &
pids=$!
# The clients connect once the host listens.
for turn in $(seq 1 100); do
    grep -q "hosting on port" "$work/1.err" 2>/dev/null && break
    sleep 0.1
done
for i in $(seq 2 "$players"); do
    "$bin/vesk_sim" --data "$work/$i" --net-join "127.0.0.1:$port" --ticks "$ticks" --random-orders "$i" \
        >"$work/$i.out" 2>"$work/$i.err" &
    pids="$pids $!"
done
status=0
for pid in $pids; do wait "$pid" || status=1; done
for i in $(seq 2 "$players"); do
    if ! cmp -s "$work/1.out" "$work/$i.out"; then
        echo "process $i differs from the host:"; diff "$work/1.out" "$work/$i.out" | head -5
        status=1
    fi
done
echo "$players players, $ticks ticks: $(tail -1 "$work/1.out") ($(wc -l <"$work/1.out") lines each)"
[ $status -eq 0 ] && echo "in step" || { echo "NOT in step"; cat "$work"/*.err; }
exit $status
