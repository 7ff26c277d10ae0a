#!/usr/bin/env python3
"""The connection manager between processes on loopback: vesk_netprobe as
the host or the client, the raw peer (tests/peers/raw_peer.py) or a plain
socket as the other machine.  Ports are chosen free; every wait is bounded.

    connection_processes_test.py PATH-TO-vesk_netprobe
"""

import os
import random
import select
import socket
import subprocess
import sys
import time
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "peers"))
from raw_peer import RawPeer, frame  # noqa: E402

PROBE = None


def free_port():
    """A port on 127.0.0.1 nobody listens on, below the range the system hands
    out as the local end of outgoing connections: one of that range, once
    closed, can be given to another connection's own end."""
    try:
        with open("/proc/sys/net/ipv4/ip_local_port_range") as f:
            first_ephemeral = int(f.read().split()[0])
    except (OSError, ValueError, IndexError):
        first_ephemeral = 32768
    candidates = list(range(10000, first_ephemeral)) or [0]
    for _ in range(1000):
        with socket.socket(socket.AF_INET, socket.SOCK_STREAM) as s:
            try:
                s.bind(("127.0.0.1", random.choice(candidates)))
            except OSError:
                continue
            return s.getsockname()[1]
    raise RuntimeError("no free port on 127.0.0.1")


class Probe:
    """vesk_netprobe running in the background, its lines read as they come."""

    def __init__(self, *arguments):
        self.process = subprocess.Popen([PROBE] + list(arguments), stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                        stderr=subprocess.STDOUT)
        self.lines = []
        self.pending = b""

    def expect(self, text, seconds=20.0):
        """Waits for a line starting with `text`; the line, or a failure."""
        deadline = time.monotonic() + seconds
        while True:
            for line in self.lines:
                if line.startswith(text):
                    self.lines.remove(line)
                    return line
            left = deadline - time.monotonic()
            if left <= 0 or self.process.stdout.closed:
                raise AssertionError("no line %r; got %r" % (text, self.lines))
            readable, _, _ = select.select([self.process.stdout], [], [], left)
            if readable:
                chunk = os.read(self.process.stdout.fileno(), 4096)
                if not chunk:
                    raise AssertionError("probe ended without %r; got %r" % (text, self.lines))
                self.pending += chunk
                *whole, self.pending = self.pending.split(b"\n")
                self.lines += [line.decode() for line in whole]

    def send_line(self, text):
        self.process.stdin.write(text.encode() + b"\n")
        self.process.stdin.flush()

    def stop(self):
        if self.process.poll() is None:
            self.process.terminate()
        try:
            self.process.wait(5)
        except subprocess.TimeoutExpired:
            self.process.kill()
            self.process.wait()
        self.process.stdout.close()
        if self.process.stdin:
            self.process.stdin.close()
        return self.process.returncode


def wait_until(condition, peers, seconds=20.0):
    """Pumps the peers until `condition` holds; the bound only guards against a hang."""
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline and not condition():
        for peer in peers:
            peer.pump(0.01)
    return condition()


class HostProcess(unittest.TestCase):
    def start_host(self, *options):
        self.port = free_port()
        self.host = Probe("listen", "127.0.0.1:%d" % self.port, *options)
        self.addCleanup(self.host.stop)
        self.host.expect("listening 127.0.0.1:%d" % self.port)

    def tearDown(self):
        # Interrupted, the host closes everything and ends cleanly (a leak
        # or a sanitizer report would change its status).
        self.assertEqual(self.host.stop(), 0)

    def test_four_players_admit_three_and_reset_the_fourth(self):
        self.start_host("--max", "4")
        peers = []
        for player in range(3):
            peers.append(RawPeer("127.0.0.1", self.port, mode=3))
            self.addCleanup(peers[-1].close)
            self.host.expect("player %d joined" % player)
        fourth = RawPeer("127.0.0.1", self.port, mode=3)
        self.addCleanup(fourth.close)
        self.assertTrue(wait_until(lambda: fourth.state != "open", [fourth]))
        self.assertEqual(fourth.state, "reset")
        for player, peer in enumerate(peers):
            peer.send(frame(1, bytes([player, 1, 2, 3])))
            # The 2 port bytes went first: never delivered as data.
            self.host.expect("packet from %d: what=0001 length=12 to=254 from=0 data=%02X010203" % (player, player))

    def test_a_length_0_frame_drops_that_peer_while_another_keeps_exchanging(self):
        self.start_host()
        honest = RawPeer("127.0.0.1", self.port, mode=3)
        broken = RawPeer("127.0.0.1", self.port, mode=3)
        for peer in (honest, broken):
            self.addCleanup(peer.close)
        self.host.expect("player 0 joined")
        self.host.expect("player 1 joined")
        broken.send(frame(1, length=0))
        self.host.expect("player 1 dropped: corrupt framing")
        self.host.expect("player 1 left")
        self.assertTrue(wait_until(lambda: broken.state != "open", [broken]))
        for turn in range(3):
            honest.send(frame(0x10, bytes([turn]), to=255))
            self.host.expect("packet from 0: what=0010 length=9 to=255 from=0 data=%02X" % turn)
        honest.close()
        self.host.expect("player 0 left")

    def test_stream_only_hosts_take_the_first_packet_at_once(self):
        self.start_host("--mode", "2")
        peer = RawPeer("127.0.0.1", self.port, mode=2)
        self.addCleanup(peer.close)
        self.host.expect("player 0 joined")
        peer.send(frame(0x8000, b"ab\x00\x00", to=254))
        self.host.expect("packet from 0: what=8000 length=12 to=254 from=0 data=61620000")


class ClientProcess(unittest.TestCase):
    def test_a_probe_client_reaches_a_probe_host_in_both_modes(self):
        for mode in ("2", "3"):
            with self.subTest(mode=mode):
                port = free_port()
                host = Probe("listen", "127.0.0.1:%d" % port, "--mode", mode)
                self.addCleanup(host.stop)
                host.expect("listening")
                client = Probe("connect", "127.0.0.1:%d" % port, "--mode", mode)
                self.addCleanup(client.stop)
                client.expect("connected to 127.0.0.1:%d in mode %s" % (port, mode))
                host.expect("player 0 joined")
                client.send_line("00 05 00 0A FE 00 00 00 BE EF")
                client.expect("sent 10 bytes")
                host.expect("packet from 0: what=0005 length=10 to=254 from=0 data=BEEF")
                client.process.stdin.close()
                client.expect("done")
                host.expect("player 0 left")
                self.assertEqual(host.stop(), 0)
                self.assertEqual(client.stop(), 0)

    def test_a_client_whose_host_closes_leaves_and_an_unused_port_fails_fast(self):
        listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        self.addCleanup(listener.close)
        listener.bind(("127.0.0.1", 0))
        listener.listen(1)
        port = listener.getsockname()[1]
        client = Probe("connect", "127.0.0.1:%d" % port, "--mode", "2")
        self.addCleanup(client.stop)
        listener.settimeout(3)
        connection, _ = listener.accept()
        client.expect("connected")
        connection.sendall(frame(0x8006, b"\x01\x02", to=0, sender=254))
        client.expect("packet from -1: what=8006 length=10 to=0 from=254 data=0102")
        connection.close()
        client.expect("connection closed")
        client.expect("done")

        started = time.monotonic()
        unused = Probe("connect", "127.0.0.1:%d" % free_port(), "--mode", "2")
        self.addCleanup(unused.stop)
        unused.expect("open failed: -4994")
        # Refused at once, not after the open's time-out of 30 s: the bound
        # lies between, at ten times the quiet time (a probe's start).
        self.assertLess(time.monotonic() - started, 10.0)
        self.assertEqual(unused.stop(), 1)


if __name__ == "__main__":
    if len(sys.argv) < 2:
        print(__doc__, file=sys.stderr)
        sys.exit(2)
    PROBE = sys.argv.pop(1)
    unittest.main()
