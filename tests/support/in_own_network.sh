#!/bin/sh
# Runs the command given in a network namespace of its own holding only a
# loopback interface (as root, or as root of a user namespace of its own), so
# that a port it finds free on 127.0.0.1 stays free whatever else runs on the
# machine: no other case or program can take it meanwhile.  Where the system
# allows no namespace, the command runs as it is (its ports then shared).
if [ "${VESK_IN_OWN_NETWORK:-}" != 1 ] && command -v unshare >/dev/null 2>&1 && command -v ip >/dev/null 2>&1 &&
   unshare --net --map-root-user true 2>/dev/null; then
    # (Without a route a send to the limited broadcast address, as a search
    # for games on the local network makes, fails with "network unreachable".)
    exec unshare --net --map-root-user env VESK_IN_OWN_NETWORK=1 \
        sh -c 'ip link set lo up && ip route add default dev lo src 127.0.0.1 && exec "$@"' sh "$@"
fi
exec "$@"
