#!/bin/sh
# Local-network discovery between two machines, checked with vesk_netprobe
# from PROGRAM-DIRECTORY inside two network namespaces this script makes and
# removes: a veth pair with the documentation addresses 192.0.2.1/24 and
# 192.0.2.2/24 and a default route on it in each (without the route a send
# to 255.255.255.255 fails with "network unreachable").  No packet leaves the
# namespaces.  Checks: a host advertised in one namespace is listed in the
# other within a second; it is deleted about two seconds after it stops; two
# hosts on different ports are listed separately; queries are at least 500 ms
# apart; a 511-byte query is not answered.  The namespaces are removed on
# every exit path.
#
# Needs root (network namespaces).  Without root it says so and exits 0,
# or 1 when CI=1.
set -eu
what="the discovery check"
prefix=disc
programs=vesk_netprobe
. "$(dirname "$0")/namespace_pair.sh"
probe="$bin/vesk_netprobe"
# Bounds that only guard against a hang: ten times the quiet time and more,
# scaled by this machine's pace (tests/support/machine_pace.py).
pace_ms() { python3 "$(dirname "$0")/../tests/support/machine_pace.py" "$1"; }

# Starts a host in the background; its output goes to $work/<name>.
start_host() { # port, name
    # Started without a shell function around it, so that $! is the probe.
    ip netns exec "$host_ns" "$probe" listen "$1" --advertise "$2" --seconds 60 >"$work/$2" 2>&1 &
    pids="$pids $!"
    last_host=$!
    for _ in $(seq 50); do
        if grep -q '^listening' "$work/$2"; then return 0; fi
        sleep 0.1
    done
    fail "the host $2 did not start: $(cat "$work/$2")"
}

# 1. Listed within a second, 2. two hosts on different ports separately.
start_host 3453 Alpha
alpha=$last_host
start_host 3454 Beta
in_search "$probe" find --port 3453 --port 3454 --seconds 1 >"$work/find" 2>&1 || fail "find failed: $(cat "$work/find")"
grep -q '^added 192.0.2.1:3453 Alpha$' "$work/find" || fail "Alpha was not listed within 1 s: $(cat "$work/find")"
grep -q '^added 192.0.2.1:3454 Beta$' "$work/find" || fail "Beta was not listed apart from Alpha: $(cat "$work/find")"

# 3. Deleted about two seconds after it stops: 2000 ms after its last
# answer, which came at most one query period (500 ms) before it stopped.
# The watcher runs until it is stopped below.
ip netns exec "$search_ns" "$probe" find --seconds 600 >"$work/watch" 2>&1 &
watcher=$!
pids="$pids $watcher"
listed_by=$(( $(date +%s%N) / 1000000 + $(pace_ms 5000) ))
while [ $(( $(date +%s%N) / 1000000 )) -lt "$listed_by" ]; do
    if grep -q '^added 192.0.2.1:3453 Alpha$' "$work/watch"; then break; fi
    sleep 0.1
done
grep -q '^added' "$work/watch" || fail "the watcher never listed Alpha: $(cat "$work/watch")"
sleep 0.7
# 1500 to 2500 ms, read by the loop below up to the reference machine's
# 500 ms late, scaled by this machine's pace.
latest=$((2500 + $(pace_ms 500)))
kill "$alpha"
stopped=$(date +%s%N)
deleted=""
while [ -z "$deleted" ] && [ $(( ($(date +%s%N) - stopped) / 1000000 )) -lt $((latest + 1500)) ]; do
    if grep -q '^deleted 192.0.2.1:3453 Alpha$' "$work/watch"; then deleted=$(date +%s%N); fi
    sleep 0.05
done
[ -n "$deleted" ] || fail "Alpha was not deleted within $((latest + 1500)) ms of stopping: $(cat "$work/watch")"
after=$(( (deleted - stopped) / 1000000 ))
if [ "$after" -lt 1450 ] || [ "$after" -gt "$latest" ]; then
    fail "Alpha was deleted $after ms after it stopped (1500 to $latest expected)"
fi
if grep -q '^deleted 192.0.2.1:3454' "$work/watch"; then fail "Beta was deleted while it still answers"; fi
kill "$watcher" 2>/dev/null || true
wait "$watcher" 2>/dev/null || true

# 4. Queries are at least 500 ms apart, counted on a plain listening socket
# at a port no host uses, each at the time the system received it (its own
# stamp): when the counter reads it later, as it may on a busy machine, the
# gap before looks longer and the one after shorter than the searcher made
# them; 5. a query of 511 bytes gets no answer, 512 do.  The counter says
# when it listens and counts until the searcher has ended (the file
# "$work/counted" is made), so a slow start on either side loses no query.
ip netns exec "$host_ns" python3 - 3455 "$work/counted" "$(pace_ms 60000)" >"$work/count" 2>&1 <<'EOF' &
import os, socket, struct, sys, time
SO_TIMESTAMPNS = getattr(socket, "SO_TIMESTAMPNS", 35)  # Linux's number where Python names none
s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
s.bind(("", int(sys.argv[1])))
s.setsockopt(socket.SOL_SOCKET, SO_TIMESTAMPNS, 1)
s.settimeout(0.1)
print("listening", flush=True)
times = []
end = time.monotonic() + int(sys.argv[3]) / 1000  # a hang guard only
while not os.path.exists(sys.argv[2]) and time.monotonic() < end:
    try:
        data, extra, _, _ = s.recvmsg(2048, socket.CMSG_SPACE(16))
    except socket.timeout:
        continue
    stamps = [struct.unpack("qq", payload[:16]) for level, kind, payload in extra
              if level == socket.SOL_SOCKET and kind == SO_TIMESTAMPNS]
    if data == b"\xFA\xFB\xFC\xFD" * 128:
        times.append(stamps[0][0] + stamps[0][1] / 1e9 if stamps else time.time())
gaps = [round((b - a) * 1000) for a, b in zip(times, times[1:])]
print("queries %d gaps %s" % (len(times), gaps))
EOF
counter=$!
pids="$pids $counter"
listening_by=$(( $(date +%s%N) / 1000000 + $(pace_ms 10000) ))
until grep -qs '^listening' "$work/count"; do
    [ $(( $(date +%s%N) / 1000000 )) -lt "$listening_by" ] || fail "the query counter did not start: $(cat "$work/count")"
    sleep 0.05
done
in_search "$probe" find --port 3455 --seconds 2 >/dev/null 2>&1 || fail "find at port 3455 failed"
: >"$work/counted"
wait "$counter" || true
queries=$(sed -n 's/^queries \([0-9]*\).*/\1/p' "$work/count")
[ -n "$queries" ] && [ "$queries" -ge 3 ] || fail "too few queries were heard: $(cat "$work/count")"
python3 - "$work/count" <<'EOF' || fail "queries came closer than 500 ms: $(cat "$work/count")"
import ast, sys
gaps = ast.literal_eval(open(sys.argv[1]).read().split("gaps ", 1)[1])
# The searcher waits more than 500 ms of its clock; the system's stamps may
# see a few milliseconds less.
sys.exit(0 if all(gap >= 495 for gap in gaps) else 1)
EOF

in_search python3 - >"$work/short" 2>&1 <<'EOF' || fail "the query check failed: $(cat "$work/short")"
import socket, sys
def answered(size):
    s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    s.setsockopt(socket.SOL_SOCKET, socket.SO_BROADCAST, 1)
    s.bind(("", 0))
    s.settimeout(0.5)
    s.sendto((b"\xFA\xFB\xFC\xFD" * 128)[:size], ("255.255.255.255", 3454))
    try:
        data, sender = s.recvfrom(2048)
    except socket.timeout:
        return False
    return len(data) == 56 and data[:4] == b"\xAF\xBF\xCF\xDF"
short, whole = answered(511), answered(512)
print("511: %s 512: %s" % (short, whole))
sys.exit(0 if not short and whole else 1)
EOF

clean_up
trap - EXIT
for ns in "$host_ns" "$search_ns"; do
    if ip netns list | grep -q "^$ns\\b"; then fail "namespace $ns was left behind"; fi
done
echo "discovery: listed, deleted after ${after} ms, two ports apart, queries spaced, 511 bytes unanswered"
