#!/usr/bin/env python3
"""A raw peer of the game's network protocol, written from the wire page
(docs/network.md) and sharing no code with the game.

It connects to a host in stream-only mode (2) or in the combined mode (3,
with the 2-byte datagram port exchange), frames packets with the 8-byte
big-endian header, and sends arbitrary bytes: well-formed packets, broken
frames, anything.  Import it (RawPeer) or run it:

    raw_peer.py HOST:PORT [--mode 2|3] [--seconds S] < lines

Each input line is a command:
    packet WHAT TO FROM HEXBODY   a framed packet (numbers decimal or 0x..)
    raw HEXBYTES                  the bytes as they are
    datagram HEXBYTES             one datagram to the host's datagram port (mode 3)
    wait MS                       read whatever arrives for MS milliseconds
    close                         an orderly close
One line is printed per event: "connected", "packet what=.. length=.. to=..
from=.. data=..", "closed", "reset", "error ...".
"""

import select
import socket
import struct
import sys
import time

HEADER = struct.Struct(">HHBBH")  # what, messageLen (header included), to, from, id
LIBRARY_PACKET_BIT = 0x8000
MAXIMUM_PACKET_SIZE = 4096


def frame(what, body=b"", to=254, sender=0, length=None):
    """A packet: the header (its length field `length` when given, however
    wrong) followed by `body`."""
    if length is None:
        length = HEADER.size + len(body)
    return HEADER.pack(what, length & 0xFFFF, to, sender, 0) + body


class RawPeer:
    """One connection to a host."""

    def __init__(self, host, port, mode=2, timeout=2.0):
        self.mode = mode
        self.received = b""
        self.state = "open"  # "closed" (end of stream) or "reset"
        self.datagram = None
        self.stream = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        self.stream.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
        if mode == 3:
            # The stream socket shares its datagram socket's port: the port
            # sent first is the one the host will answer datagrams to.
            self.datagram = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
            self.datagram.bind(("127.0.0.1" if host.startswith("127.") else "", 0))
            self.stream.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
            self.stream.bind(self.datagram.getsockname())
        self.stream.settimeout(timeout)
        self.stream.connect((host, port))
        self.host_datagram_port = None
        if mode == 3:
            self.stream.sendall(struct.pack(">H", self.datagram.getsockname()[1]))

    def send(self, data):
        """Sends bytes as they are; False when the connection is gone."""
        try:
            self.stream.sendall(data)
            return True
        except (BrokenPipeError, ConnectionResetError):
            self.state = "reset"
            return False

    def send_datagram(self, data):
        if self.datagram is None or self.host_datagram_port is None:
            return False
        self.datagram.sendto(data, (self.stream.getpeername()[0], self.host_datagram_port))
        return True

    def pump(self, seconds):
        """Reads what arrives for `seconds` or until the connection ends."""
        deadline = time.monotonic() + seconds
        while self.state == "open":
            left = deadline - time.monotonic()
            if left <= 0:
                break
            readable, _, _ = select.select([self.stream], [], [], left)
            if not readable:
                continue
            try:
                data = self.stream.recv(65536)
            except ConnectionResetError:
                self.state = "reset"
                break
            if not data:
                self.state = "closed"
                break
            self.received += data
        if self.mode == 3 and self.host_datagram_port is None and len(self.received) >= 2:
            self.host_datagram_port = struct.unpack(">H", self.received[:2])[0]
            self.received = self.received[2:]

    def packets(self):
        """Takes the whole packets received so far: (what, to, from, body)."""
        taken = []
        while len(self.received) >= HEADER.size:
            what, length, to, sender, _ = HEADER.unpack_from(self.received)
            if length < HEADER.size or length > MAXIMUM_PACKET_SIZE:
                raise ValueError("corrupt frame: length %d" % length)
            if len(self.received) < length:
                break
            taken.append((what, to, sender, self.received[HEADER.size:length]))
            self.received = self.received[length:]
        return taken

    def close(self):
        self.stream.close()
        if self.datagram is not None:
            self.datagram.close()


def number(text):
    return int(text, 0)


def main(arguments):
    if not arguments or ":" not in arguments[0]:
        print(__doc__, file=sys.stderr)
        return 2
    host, port = arguments[0].rsplit(":", 1)
    mode, seconds = 2, 10.0
    rest = arguments[1:]
    while rest:
        if rest[0] == "--mode" and len(rest) > 1 and rest[1] in ("2", "3"):
            mode = int(rest[1])
        elif rest[0] == "--seconds" and len(rest) > 1:
            seconds = float(rest[1])
        else:
            print(__doc__, file=sys.stderr)
            return 2
        rest = rest[2:]
    try:
        peer = RawPeer(host, int(port), mode)
    except OSError as error:
        print("error %s" % error.strerror, flush=True)
        return 1
    print("connected", flush=True)
    started = time.monotonic()
    for line in sys.stdin:
        words = line.split()
        if not words or time.monotonic() - started > seconds:
            continue
        if words[0] == "packet" and len(words) >= 4:
            peer.send(frame(number(words[1]), bytes.fromhex("".join(words[4:])), number(words[2]),
                            number(words[3])))
        elif words[0] == "raw":
            peer.send(bytes.fromhex("".join(words[1:])))
        elif words[0] == "datagram":
            peer.send_datagram(bytes.fromhex("".join(words[1:])))
        elif words[0] == "wait" and len(words) == 2:
            peer.pump(number(words[1]) / 1000.0)
        elif words[0] == "close":
            break
        else:
            print("error bad command: %s" % line.strip(), flush=True)
        try:
            for what, to, sender, body in peer.packets():
                print("packet what=%04X length=%d to=%d from=%d data=%s" %
                      (what, HEADER.size + len(body), to, sender, body.hex().upper()), flush=True)
        except ValueError as error:
            print("error %s" % error, flush=True)
            break
        if peer.state != "open":
            print(peer.state, flush=True)
            break
    peer.close()
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
