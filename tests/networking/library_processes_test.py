#!/usr/bin/env python3
"""The networking library's roles between processes on loopback: vesk_netprobe
host and join, with the raw peer (tests/peers/raw_peer.py) as the hostile
player or the hostile host.  Ports are chosen free; every wait is bounded.

    library_processes_test.py PATH-TO-vesk_netprobe
"""

import os
import re
import signal
import struct
import subprocess
import sys
import threading
import time
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "peers"))
sys.path.insert(0, HERE)
import raw_peer  # noqa: E402
from connection_processes_test import free_port  # noqa: E402

PROBE = None
# The stream of pings and commands takes a few seconds; a loaded machine
# running sanitized programs may take several times that.
LONG_WAIT = 120.0
WAIT = 20.0


class Probe:
    """vesk_netprobe in the background; a thread keeps reading its lines, so
    a probe printing thousands of them never blocks on its pipe."""

    def __init__(self, *arguments):
        self.process = subprocess.Popen([PROBE] + list(arguments), stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                                        stderr=subprocess.STDOUT)
        self.lines = []
        self.ended = False
        self.condition = threading.Condition()
        self.reader = threading.Thread(target=self._read, daemon=True)
        self.reader.start()

    def _read(self):
        for raw in self.process.stdout:
            with self.condition:
                self.lines.append(raw.decode(errors="replace").rstrip("\n"))
                self.condition.notify_all()
        with self.condition:
            self.ended = True
            self.condition.notify_all()

    def mark(self):
        with self.condition:
            return len(self.lines)

    def since(self, start):
        with self.condition:
            return self.lines[start:]

    def wait_for(self, pattern, start=0, seconds=WAIT, pump=()):
        """The first match of `pattern` in a line from `start` on, waiting for
        it (reading the raw peers in `pump` meanwhile); a failure after `seconds`."""
        expression = re.compile(pattern)
        deadline = time.monotonic() + seconds
        searched = start
        while True:
            with self.condition:
                for line in self.lines[searched:]:
                    match = expression.search(line)
                    if match:
                        return match
                searched = len(self.lines)
                if self.ended or time.monotonic() > deadline:
                    raise AssertionError("no line %r from %s; its last lines: %r" %
                                         (pattern, self.process.args[1:], self.lines[-8:]))
                if not pump:
                    self.condition.wait(0.05)
            for peer in pump:
                peer.pump(0.01)
                peer.packets()

    def stop(self, how=signal.SIGTERM):
        """Ends the probe (SIGTERM: it leaves the game cleanly); its status."""
        if self.process.poll() is None:
            self.process.send_signal(how)
        try:
            self.process.wait(15)
        except subprocess.TimeoutExpired:
            self.process.kill()
            self.process.wait()
        self.reader.join(5)
        self.process.stdout.close()
        return self.process.returncode


def start_probe(test, *arguments):
    probe = Probe(*arguments)
    test.addCleanup(probe.stop)
    return probe


def joined_id(probe):
    return int(probe.wait_for(r"^joined \S+ as player (\d+)$").group(1))


class HostAndThreeJoiners(unittest.TestCase):
    def test_every_packet_arrives_in_order_and_a_killed_joiner_is_deleted_once_everywhere(self):
        port = free_port()
        host = start_probe(self, "host", "127.0.0.1:%d" % port, "--players", "4", "--send", "9,255,10000")
        host.wait_for(r"^hosting 127\.0\.0\.1:%d as player 0$" % port)
        joiners = [start_probe(self, "join", "127.0.0.1:%d" % port, "--name", "j%d" % n, "--send", "1,254,1000")
                   for n in range(3)]
        ids = [joined_id(joiner) for joiner in joiners]
        self.assertEqual(sorted(ids), [1, 2, 3])

        # The host's own copies reach it too; each joiner's commands reach the host.
        for probe in [host] + joiners:
            probe.wait_for(r"^count type=9 from=0: 10000 in order$", seconds=LONG_WAIT)
        for player in ids:
            host.wait_for(r"^count type=1 from=%d: 1000 in order$" % player, seconds=LONG_WAIT)

        killed = ids[-1]
        self.assertEqual(joiners[-1].stop(signal.SIGKILL), -signal.SIGKILL)
        deletion = "event player deleted id=%d" % killed
        survivors = [host] + joiners[:-1]
        for probe in survivors:
            probe.wait_for("^%s$" % deletion)
        # Nobody else left; the players of each survivor did not change again.
        playing = [probe.since(0) for probe in survivors]
        for probe, lines in zip(survivors, playing):
            self.assertEqual(probe.stop(), 0)
            self.assertEqual(probe.since(0).count(deletion), 1, probe.process.args[1:])
            self.assertFalse([line for line in lines if "out of order" in line or "event left game" in line])


def forbidden_lines(offender, honest):
    """Whatever the input: the host keeps its player and the set of players,
    nobody's record or the game data changes, the stream stays in order, and
    nothing the offender sends reaches the game of another machine."""
    return [r"event left game", r"event player deleted id=(0|%d)$" % honest, r"event game data",
            r"event player data changed", r"event player added", r"out of order", r"from=%d " % offender]


class HostilePeers(unittest.TestCase):
    """The real programs against the raw peer's whole table of bad inputs: a
    host streaming pings to everybody, an honest client, and one raw peer at
    a time that joins properly and then misbehaves.  (What each input must
    and must not change is checked case by case in one process by
    net_library_test; here the programs and the hostile peer meet.)"""

    @classmethod
    def setUpClass(cls):
        cls.port = free_port()
        # Pings for as long as the cases run; the host starts once the honest
        # client is listed.
        cls.host = Probe("host", "127.0.0.1:%d" % cls.port, "--players", "2", "--send", "9,255,10000000")
        cls.honest = None
        try:
            cls.host.wait_for(r"^hosting ")
            cls.honest = Probe("join", "127.0.0.1:%d" % cls.port, "--name", "honest")
            cls.honest_id = joined_id(cls.honest)
            cls.honest.wait_for(r"^count type=9 from=0: 1000 in order$")
        except AssertionError:
            for probe in (cls.honest, cls.host):
                if probe:
                    probe.stop()
            raise

    @classmethod
    def tearDownClass(cls):
        cls.honest_status = cls.honest.stop()
        cls.host_status = cls.host.stop()
        assert cls.honest_status == 0 and cls.host_status == 0, (cls.honest_status, cls.host_status)

    def latest_count(self):
        counts = re.findall(r"^count type=9 from=0: (\d+) in order$", "\n".join(self.honest.since(0)), re.M)
        return int(counts[-1]) if counts else 0

    def test_each_bad_input_is_dropped_and_the_game_goes_on(self):
        for name, bad_input in raw_peer.HOSTILE_INPUTS.items():
            # A frame that cannot be framed ends the connection; the rest
            # of a truncated packet never comes, and its sender closes.
            dropped, closes = name.startswith("messageLen"), name.startswith("a truncated")
            with self.subTest(name):
                offender = raw_peer.RawPeer("127.0.0.1", self.port, mode=3)
                self.addCleanup(offender.close)
                self.assertIsNotNone(offender.join("evil"))
                added = r"^event player added id=%d name=evil$" % offender.player_id
                self.host.wait_for(added, pump=[offender])
                self.honest.wait_for(added, pump=[offender])
                host_start, honest_start = self.host.mark(), self.honest.mark()
                received = self.latest_count()

                self.assertTrue(offender.send(bad_input(self.honest_id)))
                if closes:
                    offender.close()
                # The honest client receives a thousand more pings, in order.
                self.honest.wait_for(r"^count type=9 from=0: %d in order$" % (received + 2000),
                                     pump=[] if closes else [offender])
                deleted = "event player deleted id=%d" % offender.player_id
                for probe, start in ((self.host, host_start), (self.honest, honest_start)):
                    lines = [line for line in probe.since(start) if line != deleted]
                    for pattern in forbidden_lines(offender.player_id, self.honest_id):
                        self.assertFalse([line for line in lines if re.search(pattern, line)], pattern)
                if dropped:
                    self.assertNotEqual(offender.state, "open")
                elif not closes:
                    # Only the packet was dropped: the offender is still a player.
                    offender.pump(0.05)
                    self.assertEqual(offender.state, "open")
                    self.assertTrue([p for p in offender.packets() if p[0] == raw_peer.PING])
                    offender.close()
                for probe, start in ((self.host, host_start), (self.honest, honest_start)):
                    probe.wait_for("^%s$" % deleted, start)
                    self.assertEqual(probe.since(start).count(deleted), 1)


class HostileHost(unittest.TestCase):
    def test_a_client_lists_sixteen_of_twenty_announced_players_and_keeps_receiving(self):
        host = raw_peer.RawHost(mode=3)
        self.addCleanup(host.close)
        client = start_probe(self, "join", "127.0.0.1:%d" % host.port, "--name", "honest")
        connection = host.accept(WAIT)
        self.assertIsNotNone(connection)
        self.addCleanup(connection.close)
        self.assertEqual(raw_peer.take_join_request(connection, WAIT), ("honest", ""))
        raw_peer.announce(connection, 20, first_id=5)
        self.assertEqual(joined_id(client), 5)
        start = client.mark()
        # The ping's time is opaque on the wire; the probe reads it in its
        # own byte order as the sequence number.
        for sequence in range(3):
            connection.send(raw_peer.frame(raw_peer.PING, struct.pack("=I", sequence), to=raw_peer.TO_EVERYBODY))
        client.wait_for(r"^packet type=9 from=0 to=255 length=12 seq=2$", start)
        connection.close()
        client.wait_for(r"^event left game$", start)
        self.assertEqual(client.stop(), 0)
        added = [line for line in client.since(0) if line.startswith("event player added")]
        self.assertEqual(added, ["event player added id=5 name=you"] +
                         ["event player added id=%d name=player %d" % (n, n) for n in range(6, 21)])


if __name__ == "__main__":
    if len(sys.argv) < 2:
        print(__doc__, file=sys.stderr)
        sys.exit(2)
    PROBE = sys.argv.pop(1)
    unittest.main()
