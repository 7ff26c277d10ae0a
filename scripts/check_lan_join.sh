#!/bin/sh
# A local-network game found and joined through the create-or-join dialog,
# between two simulators in two network namespaces this script makes and
# removes (a veth pair with 192.0.2.1/24 and 192.0.2.2/24 and a default route
# in each, as check_discovery.sh makes them).  `vesk_sim --net-host` creates
# its game through the dialog and advertises it; `vesk_sim --find` in the
# other namespace must list it within a second, join it, and both must play
# the demo map to the same final hash.  No packet leaves the namespaces.
#
# Needs root (network namespaces).  Without root it says so and exits 0,
# or 1 when CI=1.
set -eu
if [ $# -ne 1 ]; then
    echo "usage: $0 PROGRAM-DIRECTORY" >&2
    exit 2
fi
bin=$(cd "$1" && pwd)
sim="$bin/vesk_sim"
if [ ! -x "$sim" ] || [ ! -d "$bin/tags" ]; then
    echo "$0: $sim or its demo data is missing; build the tools and the demo data first" >&2
    exit 1
fi
if [ "$(id -u)" -ne 0 ]; then
    echo "$0: the local-network join needs root to make network namespaces; not checked" >&2
    if [ "${CI:-}" = 1 ]; then exit 1; fi
    exit 0
fi
if ! command -v ip >/dev/null 2>&1; then
    echo "$0: 'ip' (iproute2) is missing: scripts/install_dependencies.sh installs it" >&2
    exit 1
fi

host_ns="vesk_join_host_$$"
search_ns="vesk_join_search_$$"
host_veth="vjh$$"
search_veth="vjs$$"
work=$(mktemp -d)
pids=""

clean_up() {
    for pid in $pids; do kill "$pid" 2>/dev/null || true; done
    for pid in $pids; do wait "$pid" 2>/dev/null || true; done
    ip netns del "$host_ns" 2>/dev/null || true
    ip netns del "$search_ns" 2>/dev/null || true
    rm -rf "$work"
}
trap clean_up EXIT
trap 'exit 1' INT TERM HUP

fail() {
    echo "$0: $*" >&2
    exit 1
}

ip netns add "$host_ns"
ip netns add "$search_ns"
ip link add "$host_veth" netns "$host_ns" type veth peer name "$search_veth" netns "$search_ns"
ip -n "$host_ns" addr add 192.0.2.1/24 dev "$host_veth"
ip -n "$search_ns" addr add 192.0.2.2/24 dev "$search_veth"
for ns in "$host_ns" "$search_ns"; do ip -n "$ns" link set lo up; done
ip -n "$host_ns" link set "$host_veth" up
ip -n "$search_ns" link set "$search_veth" up
ip -n "$host_ns" route add default dev "$host_veth"
ip -n "$search_ns" route add default dev "$search_veth"

# Each simulator keeps its log in a directory of its own.
mkdir "$work/host" "$work/join"
ticks=150
ip netns exec "$host_ns" "$sim" --data "$bin" --log "$work/host/log.txt" --net-host 3453 --players 2 --map demo \
    --seed 5 --ticks $ticks --wall-limit 60 >"$work/host/out" 2>"$work/host/err" &
host=$!
pids="$pids $host"
for _ in $(seq 100); do
    if grep -q '^vesk_sim: hosting' "$work/host/err"; then break; fi
    sleep 0.1
done
grep -q '^vesk_sim: hosting' "$work/host/err" || fail "the host did not start: $(cat "$work/host/err")"

ip netns exec "$search_ns" "$sim" --data "$bin" --log "$work/join/log.txt" --find --ticks $ticks --wall-limit 60 \
    >"$work/join/out" 2>"$work/join/err" || fail "the joiner failed: $(tail -n 5 "$work/join/err")"
wait "$host" || fail "the host failed: $(tail -n 5 "$work/host/err")"

found=$(sed -n 's/^vesk_sim: found a game after \([0-9]*\) ms$/\1/p' "$work/join/err")
[ -n "$found" ] || fail "the joiner never listed the game: $(tail -n 5 "$work/join/err")"
[ "$found" -le 1000 ] || fail "the game was listed after $found ms (1000 at most)"
host_final=$(grep '^final ' "$work/host/out" || true)
join_final=$(grep '^final ' "$work/join/out" || true)
[ -n "$host_final" ] || fail "the host did not finish: $(tail -n 5 "$work/host/err")"
[ "$host_final" = "$join_final" ] || fail "the games differ: host '$host_final', joiner '$join_final'"
echo "$0: the game was listed after $found ms and both played it to '$host_final'"
