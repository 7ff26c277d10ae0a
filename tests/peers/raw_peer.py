#!/usr/bin/env python3
"""A raw peer of the game's network protocol, written from the wire page
(docs/network.md) and sharing no code with the game: the hostile peer of the
network tests.

It connects to a host in stream-only mode (2) or in the combined mode (3,
with the 2-byte datagram port exchange), frames packets with the 8-byte
big-endian header, and sends arbitrary bytes: well-formed packets, broken
frames, anything.  It can join a game properly (the join request, then the
host's new-player packets) and then send any of the bad inputs in
HOSTILE_INPUTS, or stand in for a host toward a real client (RawHost: accept
one connection, answer its join request, announce any number of players).
Import it or run it:

    raw_peer.py HOST:PORT [--mode 2|3] [--seconds S] < lines
    raw_peer.py --listen PORT [--mode 2|3] [--seconds S] < lines

Each input line is a command:
    packet WHAT TO FROM HEXBODY   a framed packet (numbers decimal or 0x..)
    raw HEXBYTES                  the bytes as they are
    datagram HEXBYTES             one datagram to the host's datagram port (mode 3)
    join NAME [PASSWORD]          the join handshake; prints "joined as ID"
    bad NAME [PLAYER]             one input of HOSTILE_INPUTS (PLAYER: the id it names)
    announce COUNT [FIRST-ID]     (listening) answer the join request with COUNT
                                  players, the client being the first
    wait MS                       read whatever arrives for MS milliseconds (a silent
                                  player: it reads, it says nothing)
    idle COUNT                    an idle storm: COUNT more connections that never
                                  join, held open until the end; prints "idle N closed"
                                  for those the host has closed by then
    deaf MS [EVERY HEXBYTES]      a player that stops reading for MS milliseconds,
                                  sending HEXBYTES every EVERY ms (still heard)
    close                         an orderly close
One line is printed per event: "connected", "packet what=.. length=.. to=..
from=.. data=..", "closed", "reset", "error ...".
"""

import errno
import select
import socket
import struct
import sys
import time

HEADER = struct.Struct(">HHBBH")  # what, messageLen (header included), to, from, id
LIBRARY_PACKET_BIT = 0x8000
MAXIMUM_PACKET_SIZE = 4096
TO_HOST, TO_EVERYBODY = 254, 255
PLAYER_DATA_SIZE = 124  # one player's record of the game
OWNER_FLAG = 1  # a new-player packet's flag: it describes its receiver

# Library packet types.
JOIN_REQUEST, PLAYER_DATA_CHANGED, GAME_DATA_CHANGED, NEW_PLAYER = 0, 1, 2, 3
JOIN_DENIED, DELETED_PLAYER, GAME_DATA, CONNECTION_CLOSED = 4, 5, 6, 7
# Game packet types.
CHAT, COMMAND, CONFIGURATION, PLAYER_SYNC, BEGIN_SYNC, SERVER_COMMAND = 0, 1, 2, 3, 4, 5
DESCRIPTION, PLAYER_DATA, COOP_VETERANS, PING, MIDGAME, MORE_COMMANDS = 6, 7, 8, 9, 10, 11


def frame(what, body=b"", to=254, sender=0, length=None):
    """A packet: the header (its length field `length` when given, however
    wrong) followed by `body`."""
    if length is None:
        length = HEADER.size + len(body)
    return HEADER.pack(what, length & 0xFFFF, to, sender, 0) + body


def library(kind, body=b"", to=TO_HOST, sender=0, length=None):
    return frame(LIBRARY_PACKET_BIT | kind, body, to, sender, length)


def join_request_body(name, password="", data=bytes(PLAYER_DATA_SIZE)):
    return name.encode() + b"\0" + password.encode() + b"\0" + data


def new_player(player_id, to, name, owner=False, data=bytes(PLAYER_DATA_SIZE)):
    """A host's announcement of `player_id` to player `to`."""
    body = struct.pack(">hH", player_id, OWNER_FLAG if owner else 0) + name.encode() + b"\0" + data
    return library(NEW_PLAYER, body, to=to, sender=TO_HOST)


def ping(time_value=0, latencies=(), to=TO_EVERYBODY, sender=0):
    return frame(PING, struct.pack(">I", time_value) + b"".join(struct.pack(">H", l) for l in latencies), to, sender)


def description(name="x", map_name="m", player_count=1, to=TO_EVERYBODY):
    fixed = bytes(556) + struct.pack(">iiIHBB", 0, 0, 0, 0, player_count, 0)
    return frame(DESCRIPTION, fixed + name.encode() + b"\0" + map_name.encode() + b"\0", to)


# The bad inputs of the hostile-peer matrix, each a function of the player id
# it names (another player, where the input names one) giving the bytes sent.
HOSTILE_INPUTS = {
    # Library packets only the host may send, or only to the host.
    "library type 0 to everybody": lambda other: library(JOIN_REQUEST, join_request_body("x"), to=TO_EVERYBODY),
    "type 5 to 254 naming player 0": lambda other: library(DELETED_PLAYER, struct.pack(">h", 0)),
    "type 3 with the owner flag to player 0": lambda other: new_player(0, 0, "forged", owner=True),
    "type 2 with 4088 bytes": lambda other: library(GAME_DATA_CHANGED, bytes(4088)),
    "type 1 naming another player": lambda other: library(PLAYER_DATA_CHANGED,
                                                          struct.pack(">h", other) + bytes(PLAYER_DATA_SIZE)),
    # Frames that cannot be framed.
    "messageLen 0": lambda other: frame(PING, bytes(4), length=0),
    "messageLen 7": lambda other: frame(PING, bytes(4), length=7),
    "messageLen 4097": lambda other: frame(PING, bytes(4), length=4097),
    "messageLen 65535": lambda other: frame(PING, bytes(4), length=65535),
    "a truncated packet": lambda other: frame(COMMAND, bytes(20), length=100),
    # Game packets that carry the host's authority, sent by a player.
    "begin sync": lambda other: frame(BEGIN_SYNC, to=TO_EVERYBODY),
    "description": lambda other: description(),
    "configuration broadcast": lambda other: frame(CONFIGURATION, struct.pack(">Hhi", 0, 0, 1), to=TO_EVERYBODY),
    "ping with latencies": lambda other: ping(7, (1, 2, 3)),
    "midgame": lambda other: frame(MIDGAME, struct.pack(">h", 1) + bytes(PLAYER_DATA_SIZE), to=TO_EVERYBODY),
    "coop veterans": lambda other: frame(COOP_VETERANS, bytes(40), to=TO_EVERYBODY),
}


class Connection:
    """One end of a game connection: framed bytes out, whole packets in."""

    def __init__(self, stream, mode, datagram=None):
        self.mode = mode
        self.received = b""
        self.state = "open"  # "closed" (end of stream) or "reset"
        self.stream = stream
        self.datagram = datagram
        self.host_datagram_port = None
        self.player_id = None  # once joined
        self.owns_datagram = False
        self.backlog = []  # packets received but not yet taken
        if mode == 3:
            # Each side's first two bytes are its datagram socket's port.
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

    def join(self, name, password="", seconds=3.0):
        """The join handshake: the join request, then the host's packets up to
        the new-player packet that describes this peer.  The packets taken on
        the way (what, to, from, body), or None when the host denied the join,
        closed or did not answer in time; `player_id` is set."""
        self.send(library(JOIN_REQUEST, join_request_body(name, password)))
        taken = []
        deadline = time.monotonic() + seconds
        while self.state == "open" and time.monotonic() < deadline:
            self.pump(0.01)
            packets = self.packets()
            for index, (what, _, _, body) in enumerate(packets):
                taken.append(packets[index])
                if what == LIBRARY_PACKET_BIT | JOIN_DENIED:
                    return None
                if what == LIBRARY_PACKET_BIT | NEW_PLAYER and struct.unpack_from(">hH", body)[1] & OWNER_FLAG:
                    self.player_id = struct.unpack_from(">h", body)[0]
                    self.backlog = packets[index + 1:]  # what came after it is still to be taken
                    return taken
        return None

    def packets(self):
        """Takes the whole packets received so far: (what, to, from, body)."""
        taken, self.backlog = self.backlog, []
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
        if self.datagram is not None and self.owns_datagram:
            self.datagram.close()


class RawPeer(Connection):
    """A connection to a host."""

    def __init__(self, host, port, mode=2, timeout=2.0):
        stream = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        stream.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
        datagram = None
        if mode == 3:
            # The stream socket shares its datagram socket's port: the port
            # sent first is the one the host will answer datagrams to.
            # The datagram port is free for datagrams only: another
            # process may hold it for a stream, so a few ports are tried.
            stream.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
            for attempt in range(16):
                datagram = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
                datagram.bind(("127.0.0.1" if host.startswith("127.") else "", 0))
                try:
                    stream.bind(datagram.getsockname())
                    break
                except OSError as error:
                    datagram.close()
                    if error.errno != errno.EADDRINUSE or attempt == 15:
                        stream.close()
                        raise
        stream.settimeout(timeout)
        stream.connect((host, port))
        Connection.__init__(self, stream, mode, datagram)
        self.owns_datagram = True


class RawHost:
    """A stand-in for a host on 127.0.0.1: accepts connections and can answer
    a client's join request with any announcement, however wrong."""

    def __init__(self, port=0, mode=2):
        self.mode = mode
        self.listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        self.listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        self.listener.bind(("127.0.0.1", port))
        self.port = self.listener.getsockname()[1]
        self.datagram = None
        if mode == 3:
            self.datagram = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
            self.datagram.bind(("127.0.0.1", self.port))
        self.listener.listen(4)

    def accept(self, seconds=3.0):
        """The next client's connection, or None after `seconds`."""
        readable, _, _ = select.select([self.listener], [], [], seconds)
        if not readable:
            return None
        stream, _ = self.listener.accept()
        stream.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
        return Connection(stream, self.mode, self.datagram)

    def close(self):
        self.listener.close()
        if self.datagram is not None:
            self.datagram.close()


def take_join_request(client, seconds=3.0):
    """Waits for the client's join request: (name, password), or None."""
    deadline = time.monotonic() + seconds
    while client.state == "open" and time.monotonic() < deadline:
        client.pump(0.01)
        for what, _, _, body in client.packets():
            if what == LIBRARY_PACKET_BIT | JOIN_REQUEST:
                name, password = body.split(b"\0")[:2]
                return name.decode(errors="replace"), password.decode(errors="replace")
    return None


def announce(client, count, first_id=1):
    """Answers a joining client as a host would, with `count` players: the
    client itself (`first_id`, described to it as its own) and `count` - 1
    others after it."""
    client.send(new_player(first_id, first_id, "you", owner=True))
    for player_id in range(first_id + 1, first_id + count):
        client.send(new_player(player_id, first_id, "player %d" % player_id))


def number(text):
    return int(text, 0)


def main(arguments):
    listen = bool(arguments) and arguments[0] == "--listen"
    if not arguments or (not listen and ":" not in arguments[0]) or (listen and len(arguments) < 2):
        print(__doc__, file=sys.stderr)
        return 2
    mode, seconds = 2, 10.0
    rest = arguments[2:] if listen else arguments[1:]
    while rest:
        if rest[0] == "--mode" and len(rest) > 1 and rest[1] in ("2", "3"):
            mode = int(rest[1])
        elif rest[0] == "--seconds" and len(rest) > 1:
            seconds = float(rest[1])
        else:
            print(__doc__, file=sys.stderr)
            return 2
        rest = rest[2:]
    host = None
    try:
        if listen:
            host = RawHost(int(arguments[1]), mode)
            print("listening %d" % host.port, flush=True)
            peer = host.accept(seconds)
            if peer is None:
                print("error nobody connected", flush=True)
                return 1
        else:
            address, port = arguments[0].rsplit(":", 1)
            peer = RawPeer(address, int(port), mode)
    except OSError as error:
        print("error %s" % error.strerror, flush=True)
        return 1
    print("connected", flush=True)
    started = time.monotonic()
    idle = []
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
        elif words[0] == "join" and len(words) in (2, 3):
            taken = peer.join(words[1], words[2] if len(words) == 3 else "")
            for what, to, sender, body in taken or []:
                print("packet what=%04X length=%d to=%d from=%d data=%s" %
                      (what, HEADER.size + len(body), to, sender, body.hex().upper()), flush=True)
            print("joined as %d" % peer.player_id if taken is not None else "error join failed", flush=True)
        elif words[0] == "bad" and len(words) >= 2:
            # The name's words, then the id it names when there is one.
            name, named = " ".join(words[1:]), 0
            if name not in HOSTILE_INPUTS and len(words) > 2:
                name, named = " ".join(words[1:-1]), number(words[-1])
            if name in HOSTILE_INPUTS:
                peer.send(HOSTILE_INPUTS[name](named))
            else:
                print("error no bad input %r; known: %s" % (name, ", ".join(HOSTILE_INPUTS)), flush=True)
        elif words[0] == "announce" and listen and len(words) in (2, 3):
            if take_join_request(peer) is None:
                print("error no join request", flush=True)
            else:
                announce(peer, number(words[1]), number(words[2]) if len(words) == 3 else 1)
        elif words[0] == "wait" and len(words) == 2:
            peer.pump(number(words[1]) / 1000.0)
        elif words[0] == "idle" and len(words) == 2 and not listen:
            idle += [RawPeer(address, int(port), mode) for _ in range(number(words[1]))]
        elif words[0] == "deaf" and len(words) in (2, 4):
            end = time.monotonic() + number(words[1]) / 1000.0
            while time.monotonic() < end:
                time.sleep(min(end - time.monotonic(), number(words[2]) / 1000.0 if len(words) == 4 else 1.0))
                if len(words) == 4 and time.monotonic() < end:
                    peer.send(bytes.fromhex(words[3]))
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
    for connection in idle:
        connection.pump(0.05)
    closed = sum(connection.state != "open" for connection in idle)
    if idle:
        print("idle %d closed" % closed, flush=True)
    for connection in idle + [peer]:
        connection.close()
    if host is not None:
        host.close()
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
