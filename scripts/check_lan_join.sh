#!/bin/sh
# A local-network game found and joined through the create-or-join dialog,
# between two simulators in two network namespaces (scripts/namespace_pair.sh).  `vesk_sim --net-host` creates
# its game through the dialog and advertises it; `vesk_sim --find` in the
# other namespace must list it within a second, join it, and both must play
# the demo map to the same final hash.  No packet leaves the namespaces.
#
# Needs root (network namespaces).  Without root it says so and exits 0,
# or 1 when CI=1.
set -eu
what="the local-network join"
prefix=join
programs=vesk_sim
needs_tags=1
. "$(dirname "$0")/namespace_pair.sh"
sim="$bin/vesk_sim"

# Each simulator keeps its log in a directory of its own.
mkdir "$work/host" "$work/join"
ticks=150
ip netns exec "$host_ns" "$sim" --data "$data" --log "$work/host/log.txt" --net-host 3453 --players 2 --map demo \
    --seed 5 --ticks $ticks --wall-limit 60 >"$work/host/out" 2>"$work/host/err" &
host=$!
pids="$pids $host"
for _ in $(seq 100); do
    if grep -q '^vesk_sim: hosting' "$work/host/err"; then break; fi
    sleep 0.1
done
grep -q '^vesk_sim: hosting' "$work/host/err" || fail "the host did not start: $(cat "$work/host/err")"

ip netns exec "$search_ns" "$sim" --data "$data" --log "$work/join/log.txt" --find --ticks $ticks --wall-limit 60 \
    >"$work/join/out" 2>"$work/join/err" || fail "the joiner failed: $(tail -n 5 "$work/join/err")"
wait "$host" || fail "the host failed: $(tail -n 5 "$work/host/err")"

found=$(sed -n 's/^vesk_sim: found a game after \([0-9]*\) ms$/\1/p' "$work/join/err")
[ -n "$found" ] || fail "the joiner never listed the game: $(tail -n 5 "$work/join/err")"
# A second on the reference machine, scaled by this machine's pace: a busy
# machine answers later, and that is not the search's fault.
listed_within=$(python3 "$(dirname "$0")/../tests/support/machine_pace.py" 1000)
[ "$found" -le "$listed_within" ] || fail "the game was listed after $found ms ($listed_within at most)"
host_final=$(grep '^final ' "$work/host/out" || true)
join_final=$(grep '^final ' "$work/join/out" || true)
[ -n "$host_final" ] || fail "the host did not finish: $(tail -n 5 "$work/host/err")"
[ "$host_final" = "$join_final" ] || fail "the games differ: host '$host_final', joiner '$join_final'"
echo "$0: the game was listed after $found ms and both played it to '$host_final'"
