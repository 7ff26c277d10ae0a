# Sourced by the local-network checks (sh): two network namespaces joined by
# a veth pair, 192.0.2.1/24 for the host and 192.0.2.2/24 for the searcher,
# each with a default route on its end (without it a send to
# 255.255.255.255 fails with "network unreachable"), so no packet leaves
# them.  Before sourcing, set `what` (what the check is, for its messages)
# and `prefix` (a short word for the namespace names).  Afterwards: $host_ns,
# $search_ns, $work (a scratch directory), `pids` (add background processes:
# they are killed on exit), `fail TEXT`, `in_host`, `in_search`; the
# namespaces and $work are removed on every exit path.
#
# Needs root; without it the check says so and exits 0, or 1 when CI=1.
#
# It also takes the check's one argument, the program directory, as $bin;
# set `programs` (the tools the check runs) before sourcing, and `needs_tags`
# to 1 when the check needs the demo data beside them: $data is then the
# game's folder as the check's own, every entry of $bin but the preferences,
# so that what the simulators write there (the last address joined, the
# game's name) stays out of the folder the game ships from.

if [ $# -ne 1 ]; then
    echo "usage: $0 PROGRAM-DIRECTORY" >&2
    exit 2
fi
bin=$(cd "$1" && pwd)
for program in $programs; do
    if [ ! -x "$bin/$program" ]; then
        echo "$0: $bin/$program is missing; build the tools first" >&2
        exit 1
    fi
done
if [ "${needs_tags:-0}" = 1 ] && [ ! -d "$bin/tags" ]; then
    echo "$0: the demo data is missing from $bin; build it first" >&2
    exit 1
fi

if [ "$(id -u)" -ne 0 ]; then
    echo "$0: $what needs root to make network namespaces; not checked" >&2
    if [ "${CI:-}" = 1 ]; then exit 1; fi
    exit 0
fi
if ! command -v ip >/dev/null 2>&1; then
    echo "$0: 'ip' (iproute2) is missing: scripts/install_dependencies.sh installs it" >&2
    exit 1
fi

host_ns="vesk_${prefix}_host_$$"
search_ns="vesk_${prefix}_search_$$"
host_veth="v${prefix}h$$"
search_veth="v${prefix}s$$"
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
data="$work/game"
mkdir -p "$data/preferences"
for entry in "$bin"/*; do
    [ "$(basename "$entry")" = preferences ] || ln -s "$entry" "$data/"
done

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

in_host() { ip netns exec "$host_ns" "$@"; }
in_search() { ip netns exec "$search_ns" "$@"; }
