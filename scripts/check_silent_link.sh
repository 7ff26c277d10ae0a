#!/bin/sh
# A link that falls silent without a reset: a 4-player game between a host
# and three joiners in two network namespaces (scripts/namespace_pair.sh);
# at tick 570 a packet filter in the host's namespace drops everything the
# host sends and receives.  Every joiner must leave, saying it heard nothing
# from its host, and the host must drop the three silent players and finish
# the game alone, each within the silence limit plus 5 seconds (scaled by the
# machine's pace).  No packet
# leaves the namespaces.
#
# The silence limit is VESK_TEST_SILENCE_LIMIT_MS (4000 unless given; 30000
# is the game's own).  Needs root (network namespaces) and nft (nftables).
# Without root it says so and exits 0, or 1 when CI=1.
set -eu
what="the silent link"
prefix=nl
programs=vesk_sim
needs_tags=1
. "$(dirname "$0")/namespace_pair.sh"
sim="$bin/vesk_sim"
command -v nft >/dev/null 2>&1 || fail "'nft' (nftables) is missing: scripts/install_dependencies.sh installs it"

limit_ms=${VESK_TEST_SILENCE_LIMIT_MS:-4000}
export VESK_TEST_SILENCE_LIMIT_MS=$limit_ms
cut_tick=570
# The game goes on well past the cut plus the limit.
ticks=$((cut_tick + (limit_ms / 1000 + 15) * 30))
wall=$((ticks / 30 + 60))
now_ms() { echo $(($(date +%s%N) / 1000000)); }

mkdir "$work/host"
in_host "$sim" --data "$data" --log "$work/host/log.txt" --net-host 3453 --players 4 --map demo --seed 5 \
    --ticks $ticks --random-orders 1 --wall-limit $wall >"$work/host/out" 2>"$work/host/err" &
host=$!
pids="$pids $host"
# Waits up to TENTHS tenths of a second for PATTERN in FILE; false when it never shows.
wait_for() { # tenths, pattern, file
    for _ in $(seq "$1"); do
        if grep -q "$2" "$3"; then return 0; fi
        sleep 0.1
    done
    grep -q "$2" "$3"
}
wait_for 100 '^vesk_sim: hosting' "$work/host/err" || fail "the host did not start: $(cat "$work/host/err")"
joiners=""
for i in 1 2 3; do
    mkdir "$work/join$i"
    in_search "$sim" --data "$data" --log "$work/join$i/log.txt" --net-join 192.0.2.1:3453 --ticks $ticks \
        --random-orders $((i + 1)) --wall-limit $wall >"$work/join$i/out" 2>"$work/join$i/err" &
    joiners="$joiners $!"
done
pids="$pids $joiners"

# The game's 19 s to the cut, with room, scaled by this machine's pace.
wait_for $(( $(python3 "$(dirname "$0")/../tests/support/machine_pace.py" 30000) / 100 )) "^$cut_tick " "$work/host/out" || fail "the game did not reach tick $cut_tick: $(tail -n 5 "$work/host/err")"
in_host nft add table inet "$prefix"_cut
in_host nft add chain inet "$prefix"_cut in '{ type filter hook input priority 0; policy accept; }'
in_host nft add chain inet "$prefix"_cut out '{ type filter hook output priority 0; policy accept; }'
in_host nft add rule inet "$prefix"_cut in ip saddr 192.0.2.2 drop
in_host nft add rule inet "$prefix"_cut out ip daddr 192.0.2.2 drop
cut=$(now_ms)
# The limit, then the reference machine's 5 s to notice and end, scaled by
# this machine's pace (tests/support/machine_pace.py).
bound=$((limit_ms + $(python3 "$(dirname "$0")/../tests/support/machine_pace.py" 5000)))

# Each side's message, in milliseconds after the cut.
i=0
for joiner in $joiners; do
    i=$((i + 1))
    status=0
    wait "$joiner" || status=$?
    took=$(($(now_ms) - cut))
    grep -q 'the connection to the host was lost (nothing heard from it' "$work/join$i/err" ||
        fail "joiner $i (status $status) did not say its host fell silent: $(tail -n 3 "$work/join$i/err")"
    [ $took -le $bound ] || fail "joiner $i left $took ms after the cut ($bound at most)"
    echo "$0: joiner $i left $took ms after the cut (status $status)"
done
dropped=0
for _ in $(seq $((bound / 50))); do
    dropped=$(grep -c 'Nothing heard from player' "$work/host/log.txt" || true)
    if [ "$dropped" -ge 3 ]; then break; fi
    sleep 0.05
done
took=$(($(now_ms) - cut))
[ "$dropped" -ge 3 ] || fail "the host dropped $dropped of the 3 silent players within $bound ms"
echo "$0: the host had dropped the 3 silent players $took ms after the cut (or sooner)"
wait "$host" || fail "the host failed: $(tail -n 5 "$work/host/err")"
final=$(grep '^final ' "$work/host/out" || true)
[ -n "$final" ] || fail "the host did not finish: $(tail -n 5 "$work/host/err")"
echo "$0: the host played on alone to '$final'"
