#!/usr/bin/env python3
"""The lobby between processes on loopback: the test lobby service
(tests/peers/lobby/vesk_test_lobby) driven by a raw client of the protocol
written in this test, then the game's lobby client (vesk_lobby_probe)
against it: logins, refusals, the room walk, chat between two probes and
broken frames.  Ports are chosen free; every wait is bounded.

    lobby_processes_test.py PATH-TO-vesk_test_lobby PATH-TO-vesk_lobby_probe
"""

import os
import socket
import struct
import subprocess
import sys
import time
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "peers", "lobby"))
sys.path.insert(0, HERE)
sys.path.insert(0, os.path.join(HERE, "..", "support"))
import connection_processes_test  # noqa: E402
from machine_pace import scaled_seconds  # noqa: E402
import vesk_test_lobby as wire  # noqa: E402

LOBBY = PROBE = None


class Lines(connection_processes_test.Probe):
    """A process whose output lines are read as they come (expect, send_line, stop)."""

    def __init__(self, command):
        self.process = subprocess.Popen(command, stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                        stderr=subprocess.STDOUT)
        self.lines = []
        self.pending = b""

    def finish(self, seconds):
        """Waits for the end: (exit status, every line not yet expected)."""
        try:
            output, _ = self.process.communicate(timeout=seconds)
        except subprocess.TimeoutExpired:
            self.process.kill()
            output, _ = self.process.communicate()
        return self.process.returncode, self.lines + (self.pending + output).decode(errors="replace").splitlines()


class Lobby(Lines):
    def __init__(self, *options):
        super().__init__([LOBBY, "--port", "0", "--seconds", "60"] + list(options))
        self.port = int(self.expect("login ").split()[1])
        self.rooms = {}
        while True:
            line = self.expect("")
            if line == "ready":
                break
            if line.startswith("room "):
                self.rooms[int(line.split()[1])] = int(line.split()[2])


class Client:
    """One connection to the service, speaking the protocol from its wire page."""

    def __init__(self, port, key_exchange=True):
        self.sock = socket.create_connection(("127.0.0.1", port), timeout=3)
        self.key = None
        self.unread = b""
        if key_exchange:
            private, public = wire.make_key_pair()
            self.send(wire.SESSION_KEY, public)
            kind, body = self.receive()
            assert kind == wire.SESSION_KEY and len(body) == 8, (kind, body)
            self.key = wire.session_key(private, body)

    def send(self, kind, body=b""):
        if self.key is not None:
            body = wire.encode_body(body, self.key)
        self.sock.sendall(wire.HEADER.pack(wire.IDENTIFIER, kind, 8 + len(body)) + body)

    def frame(self, seconds=10.0):
        """The next whole frame as it arrived (identifier, kind, length, body), or None at the end."""
        deadline = time.monotonic() + seconds
        while len(self.unread) < 8 or len(self.unread) < max(8, min(wire.HEADER.unpack_from(self.unread)[2], 8192)):
            self.sock.settimeout(max(0.01, deadline - time.monotonic()))
            chunk = self.sock.recv(65536)
            if not chunk:
                return None
            self.unread += chunk
        identifier, kind, length = wire.HEADER.unpack_from(self.unread)
        whole = self.unread[:max(8, min(length, 8192))]
        self.unread = self.unread[len(whole):]
        return identifier, kind, length, whole[8:]

    def receive(self, seconds=10.0):
        """The next packet (kind, decoded body), or None when the service closed."""
        got = self.frame(seconds)
        if got is None:
            return None
        identifier, kind, length, body = got
        assert identifier == wire.IDENTIFIER and length == 8 + len(body), got
        if self.key is not None:
            body = wire.decode_body(body, self.key)
            assert body is not None, "a packet failing its check blocks"
        return kind, body

    def expect(self, kind, seconds=10.0, skipping=False):
        """The body of the next packet, which must be of type `kind` (or the next of that type)."""
        while True:
            got = self.receive(seconds)
            if not skipping or got is None or got[0] == kind:
                assert got is not None and got[0] == kind, "wanted type %d, got %r" % (kind, got)
                return got[1]

    def burst(self, seconds=10.0):
        """The first frame of what arrives next (identifier, kind, length, the bytes after its
        header), however broken its length."""
        self.sock.settimeout(seconds)
        data = self.sock.recv(65536)
        self.sock.settimeout(0.2)
        try:
            while len(data) < 4096:
                data += self.sock.recv(65536)
        except socket.timeout:
            pass
        identifier, kind, length = wire.HEADER.unpack_from(data)
        return identifier, kind, length, data[8:length] if length >= 8 else data[8:]

    def ended(self, seconds=10.0):
        """True when the service closes the connection within `seconds` (packets before it skipped)."""
        try:
            while self.frame(seconds) is not None:
                pass
            return True
        except (socket.timeout, ConnectionResetError):
            return False

    def login(self, user, password, user_id=0, application=b"VESK2"):
        """Logs in; the server message's code or the login (user id, token, rooms)."""
        body = wire.LOGIN_DATA.pack(0, 300, 0, user_id, 2, 0, application, b"Jan 12 2018", b"17:42:01",
                                    user.encode(), bytes(128), 0, 0)
        self.send(wire.LOGIN, body)
        kind, body = self.receive()
        if kind == wire.SERVER_MESSAGE:
            return struct.unpack_from(">i", body)[0]
        assert kind == wire.PASSWORD_CHALLENGE, kind
        authentication = struct.unpack_from(">h", body)[0]
        salt = self.salt = body[2:18]
        response = wire.expected_response(password.encode(), salt, authentication) if password is not None else \
            wire.expected_response(b"", bytes(16), 2)  # the hash of the empty text, whatever the salt
        self.send(wire.PASSWORD_RESPONSE, response)
        kind, body = self.receive()
        if kind == wire.SERVER_MESSAGE:
            return struct.unpack_from(">i", body)[0]
        assert kind == wire.USER_SUCCESSFUL_LOGIN and len(body) == 40, (kind, body)
        rooms = self.expect(wire.ROOM_LIST)
        assert len(rooms) % wire.ROOM_INFO.size == 0
        return (struct.unpack_from(">i", body)[0], body[8:40],
                [wire.ROOM_INFO.unpack_from(rooms, offset) for offset in range(0, len(rooms), wire.ROOM_INFO.size)])

    def room_login(self, token, user, player_data=b"P" * 40):
        """Logs in to a room: the server message's code (8 when accepted)."""
        self.send(wire.ROOM_LOGIN, token + user.encode() + b"\0")
        self.send(wire.SET_PLAYER_DATA, player_data)
        return struct.unpack_from(">i", self.expect(wire.SERVER_MESSAGE))[0]

    def close(self):
        self.sock.close()


def message_code(result):
    return result if isinstance(result, int) else wire.LOGIN_ACCEPTED


class LobbyService(unittest.TestCase):
    def start(self, *options):
        self.lobby = Lobby(*options)
        self.addCleanup(self.lobby.stop)
        return self.lobby

    def client(self, port=None, **options):
        client = Client(self.lobby.port if port is None else port, **options)
        self.addCleanup(client.close)
        return client

    def enter(self, user, password, room=0):
        """A client logged in and accepted in `room`, its lists read."""
        user_id, token, _ = self.client().login(user, password)
        client = self.client(self.lobby.rooms[room])
        self.assertEqual(client.room_login(token, user), wire.LOGIN_ACCEPTED)
        self.assertEqual(struct.unpack(">Ihh", client.expect(wire.ROOM_LOGIN_SUCCESSFUL)), (user_id, 16, 0))
        return client, user_id

    def test_a_login_lists_the_rooms_and_a_room_login_its_players_and_games(self):
        self.start("--rooms", "3")
        user_id, token, rooms = self.client().login("bob", "builder")
        self.assertEqual(user_id, 2)
        self.assertEqual([(r[0], r[2], r[3]) for r in rooms], [(n, wire.LOOPBACK, self.lobby.rooms[n]) for n in range(3)])
        room = self.client(self.lobby.rooms[1])
        self.assertEqual(room.room_login(token, "bob", b"D" * 50), wire.LOGIN_ACCEPTED)
        self.assertEqual(len(room.expect(wire.ROOM_LOGIN_SUCCESSFUL)), 8)
        self.assertEqual(wire.PLAYER_AUX.unpack_from(room.expect(wire.PLAYER_LIST))[3], user_id)
        games = room.expect(wire.GAME_LIST)
        first = wire.GAME_AUX.unpack_from(games)
        self.assertEqual(games[32 + 568:].split(b"\0")[0], b"Test game one")
        second = wire.GAME_AUX.unpack_from(games, 32 + first[7])
        self.assertEqual(len(games), 64 + first[7] + second[7])
        self.assertEqual(room.expect(wire.SEND_VERSIONS), b"")
        room.send(wire.VERSION_CONTROL, struct.pack(">4i", 300, 2182, 1, 443))
        self.lobby.expect("versions 300 2182 1 443")
        self.assertEqual(room.expect(wire.SET_PLAYER_DATA_FROM_METASERVER)[24:], b"D" * 50)

    def test_logins_the_probe_cannot_make_get_their_codes(self):
        cases = [  # options, user, password, user id, application, code (the probe's logins: below)
            ((), "nobody", "wonderland", 0, b"VESK2", wire.BAD_USER_OR_PASSWORD),
            ((), "alice", "wonderland", 0, b"OTHER", wire.BAD_VERSION),
            (("--guests",), "Guest", "wrong", -1, b"VESK2", wire.BAD_USER_OR_PASSWORD),
            (("--guests", "--guest-password", "open5"), "Guest", "open5", -1, b"VESK2", wire.LOGIN_ACCEPTED),
        ]
        for options, user, password, user_id, application, code in cases:
            with self.subTest(options=options, user=user, code=code):
                self.start(*options)
                result = self.client().login(user, password, user_id, application)
                self.assertEqual(message_code(result), code)
                self.lobby.stop()

    def test_a_second_login_of_one_account_is_refused_until_the_first_leaves(self):
        self.start("--guests")
        first, _ = self.enter("alice", "wonderland")
        self.assertEqual(self.client().login("alice", "wonderland"), wire.ALREADY_LOGGED_IN)
        self.enter("Guest", "guest")
        self.assertEqual(self.client().login("Guest", "guest"), wire.GUEST_NAME_TAKEN)
        first.close()
        self.lobby.expect("closed alice")
        self.assertNotIsInstance(self.client().login("alice", "wonderland"), int)

    def test_salts_never_cut_a_password_and_guessing_is_held_to_the_attempt_limit(self):
        # A salt of the password's own characters would make the empty text's hash the answer.
        self.start("--account", "wendy:wwwwwwwwwwwwwww", "--salt", "77" * 16)
        self.assertEqual(self.client().login("wendy", None), wire.BAD_USER_OR_PASSWORD)
        self.assertNotIsInstance(self.client().login("wendy", "wwwwwwwwwwwwwww"), int)
        self.lobby.stop()
        self.start("--account", "wendy:wwwwwwwwwwwwwww", "--account", "alice:wonderland", "--account", "bob:builder")
        for attempt in range(wire.LOGIN_FAILURE_LIMIT):
            client = self.client()
            self.assertEqual(client.login("wendy", None), wire.BAD_USER_OR_PASSWORD, attempt)
            self.assertFalse([i for i in range(15) if client.salt[i] == ord("w")], client.salt.hex())
        # Past the limit the empty text's hash is not even challenged, nor the right password.
        self.assertEqual(self.client().login("wendy", None), wire.ACCOUNT_LOCKED)
        self.assertEqual(self.client().login("wendy", "wwwwwwwwwwwwwww"), wire.ACCOUNT_LOCKED)
        self.assertNotIsInstance(self.client().login("alice", "wonderland"), int)
        # One address guessing at many accounts is held too.
        for attempt in range(wire.LOGIN_FAILURE_LIMIT_PER_ADDRESS - wire.LOGIN_FAILURE_LIMIT):
            self.assertEqual(self.client().login("user%d" % attempt, None), wire.BAD_USER_OR_PASSWORD, attempt)
        self.assertEqual(self.client().login("bob", "builder"), wire.ACCOUNT_LOCKED)

    def test_rooms_refuse_as_configured(self):
        self.start("--rooms", "4", "--full-room", "1", "--room-message", "2:14", "--silent-room", "3")
        _, token, _ = self.client().login("alice", "wonderland")
        for room, code in ((1, wire.ROOM_FULL), (2, wire.ACCOUNT_LOCKED)):
            self.assertEqual(self.client(self.lobby.rooms[room]).room_login(token, "alice"), code)
        silent = self.client(self.lobby.rooms[3], key_exchange=False)
        silent.send(wire.SESSION_KEY, wire.make_key_pair()[1])
        self.lobby.expect("key withheld room 3")
        self.assertRaises(socket.timeout, silent.frame, 0.5)
        self.assertEqual(self.client(self.lobby.rooms[0]).room_login(bytes(32), "alice"), wire.USER_NOT_LOGGED_IN)
        self.assertEqual(self.client(self.lobby.rooms[0]).room_login(token, "bob"), wire.USER_NOT_LOGGED_IN)
        self.assertEqual(self.client(self.lobby.rooms[0]).room_login(token, "alice"), wire.LOGIN_ACCEPTED)

    def test_chat_reaches_the_room_with_its_sender_and_directed_data_its_target(self):
        self.start("--no-versions")
        alice, alice_id = self.enter("alice", "wonderland")
        bob, bob_id = self.enter("bob", "builder")
        self.assertEqual(wire.PLAYER_AUX.unpack_from(alice.expect(wire.PLAYER_LIST, skipping=True))[:4],
                         (0, 0, 0, alice_id))
        self.assertEqual(wire.PLAYER_AUX.unpack_from(alice.expect(wire.PLAYER_LIST, skipping=True))[:4],
                         (0, 0, 0, bob_id))
        bob.expect(wire.SET_PLAYER_DATA_FROM_METASERVER, skipping=True)
        bob.send(wire.ROOM_BROADCAST, b"hello room")
        for client in (alice, bob):
            self.assertEqual(client.expect(wire.ROOM_BROADCAST, skipping=True), b"hello room")
        alice.send(wire.DIRECTED_DATA, struct.pack(">Ii", bob_id, 1) + b"psst")
        self.assertEqual(bob.expect(wire.DIRECTED_DATA), struct.pack(">Ii", alice_id, 1) + b"psst")
        bob.close()
        self.assertEqual(wire.PLAYER_AUX.unpack_from(alice.expect(wire.PLAYER_LIST, skipping=True))[:4],
                         (1, 0, 0, bob_id))

    def test_keepalives_are_answered_once_and_sent_on_request(self):
        self.start("--no-versions")
        client, _ = self.enter("alice", "wonderland")
        for kind in (wire.PLAYER_LIST, wire.GAME_LIST, wire.SET_PLAYER_DATA_FROM_METASERVER):
            client.expect(kind)
        client.send(wire.KEEPALIVE)
        self.assertEqual(client.expect(wire.KEEPALIVE), b"")
        client.send(wire.KEEPALIVE)  # the answer to its answer
        self.lobby.expect("keepalive from alice (an answer)")
        self.lobby.send_line("keepalive")
        self.assertEqual(client.expect(wire.KEEPALIVE), b"")
        self.assertRaises(socket.timeout, client.frame, 0.3)

    def listed_game_data(self, name=b"Open field", map_name=b"Plains", players=1):
        description = bytearray(wire.GAME_DESCRIPTION_SIZE)
        struct.pack_into(">h", description, 32, 443)  # the build number leads its word
        struct.pack_into(">ih", description, 36, 2182, 0)
        description[566] = players
        return bytes(description) + name + b"\0" + map_name + b"\0"

    def standings(self, game_id, players):
        """A score body: the game id, the standings' head, `players` records, zeros up to 16."""
        body = struct.pack(">ihhiiiihh", game_id, 2, 0, 2182, 900, 600, 1, players, 1).ljust(4 + 216, b"\0")
        for i in range(players):
            body += wire.STANDINGS_PLAYER_RECORD.pack(0, 1, 600, 3 + i, i, 30, 10, i + 1)
        return body.ljust(4 + 216 + 28 * max(16, players), b"\0")

    def test_a_hosted_game_is_listed_started_scored_streamed_and_withdrawn_with_every_field_checked(self):
        self.start("--no-versions", "--test-games", "0", "--room-flags", "0:3")
        alice, alice_id = self.enter("alice", "wonderland")
        bob, _ = self.enter("bob", "builder")
        self.assertEqual(bob.expect(wire.GAME_LIST, skipping=True), b"")
        alice.send(wire.CREATE_GAME, struct.pack(">Hh", 3453, 0) + self.listed_game_data())
        listed = self.lobby.expect("game ")
        game_id = int(listed.split()[1])
        self.assertIn('listed room 0 by alice port 3453 order 0 bytes 586 name "Open field" map "Plains" players 1 '
                      'flags 0 version 2182 build 443', listed)
        entry = bob.expect(wire.GAME_LIST, skipping=True)
        self.assertEqual(wire.GAME_AUX.unpack_from(entry)[:7], (game_id, wire.LOOPBACK, 3453, wire.ADD, 1, 0, alice_id))
        refusals = [  # type, body, what the log says
            (wire.CREATE_GAME, struct.pack(">Hh", 3453, 0) + self.listed_game_data(b"N" * 460), "above 1024"),
            (wire.CREATE_GAME, struct.pack(">Hh", 3453, 0) + self.listed_game_data(b"N" * 32), "a name of 32"),
            (wire.CREATE_GAME, struct.pack(">Hh", 3453, 2) + self.listed_game_data(), "order flag 2"),
            (wire.CREATE_GAME, struct.pack(">Hh", 3453, 0) + self.listed_game_data()[:-1], "do not end exactly"),
            (wire.REMOVE_GAME, b"x", "1 bytes, 0 expected"),
            (wire.GAME_PLAYER_LIST, struct.pack(">iI", game_id + 1, 1), "game %d is not %d" % (game_id + 1, game_id)),
            (wire.START_GAME, struct.pack(">i", 60), "4 bytes, 12 expected"),
            (wire.START_GAME, struct.pack(">iii", 60, 0, 1), "padding 0000000000000001"),
            (wire.START_GAME, struct.pack(">iii", 0, 0, 0), "length 0"),
            (wire.STREAM_HEADER, b"film", "a recording stream outside a started game"),
            (wire.GAME_SCORE, self.standings(game_id, 2)[:-28], "bytes for 2 players"),
            (wire.GAME_SCORE, self.standings(game_id, 2)[:-1] + b"\1", "player records past its 2 players"),
            (wire.GAME_SCORE, self.standings(999, 2), "game 999 was never listed"),
        ]
        for kind, body, reason in refusals:
            with self.subTest(kind=kind, reason=reason):
                alice.send(kind, body)
                self.assertIn(reason, self.lobby.expect("refused type %d from alice: " % kind))
        accepted = [  # type, body, the log line
            (wire.CREATE_GAME, struct.pack(">Hh", 3454, 1) + self.listed_game_data(players=2), "game %d changed" % game_id),
            (wire.RESET_GAME, b"", "game %d reset" % game_id),
            (wire.GAME_PLAYER_LIST, struct.pack(">iII", game_id, 1, 2), "game %d players 1 2" % game_id),
            (wire.START_GAME, struct.pack(">iii", -1, 0, 0), "game %d started seconds -1" % game_id),
            (wire.STREAM_HEADER, b"film", "game %d stream header 4 bytes" % game_id),
            (wire.STREAM_COMMAND, bytes(12), "game %d stream command 12 bytes" % game_id),
            (wire.STREAM_END, struct.pack(">i", 900), "game %d stream end 900" % game_id),
            (wire.GAME_SCORE, self.standings(game_id, 2),
             "score %d from alice ended 2 elapsed 600 players 2 1:team=0,killed=3,lost=0 2:team=0,killed=4,lost=1"
             % game_id),
            (wire.REMOVE_GAME, b"", "game %d removed" % game_id),
        ]
        for kind, body, line in accepted:
            with self.subTest(kind=kind, line=line):
                alice.send(kind, body)
                self.assertTrue(self.lobby.expect(line.split(" ")[0] + " ").startswith(line), line)
        verbs = []
        while len(verbs) < 3:
            verbs.append(wire.GAME_AUX.unpack_from(bob.expect(wire.GAME_LIST, skipping=True)))
        self.assertEqual([(v[3], v[5]) for v in verbs], [(wire.CHANGE, 0), (wire.CHANGE, -1), (wire.DELETE, -1)])

    def test_buddy_order_search_and_information_queries_are_answered(self):
        self.start("--no-versions", "--test-games", "0", "--buddy-lists", "--account", "alice:wonderland:1:7",
                   "--account", "bob:builder:2:7")
        alice, _ = self.enter("alice", "wonderland")
        self.assertEqual(alice.expect(wire.UPDATE_BUDDY_LIST, skipping=True), bytes(128))
        self.assertEqual(alice.expect(wire.ORDER_MEMBER_LIST, skipping=True), struct.pack(">iIiIi", 2, 1, 1, 2, 0))
        self.enter("bob", "builder")
        self.lobby.expect("room 0 enter bob")

        def entries(body):
            """(room, player id) of each entry of a search, buddy or order list."""
            found, at = [], 0
            while at < len(body):
                room, aux = struct.unpack_from(">i", body, at)[0], wire.PLAYER_AUX.unpack_from(body, at + 4)
                found.append((room, aux[3]))
                at += 4 + wire.PLAYER_AUX.size + aux[6]
            return found
        cases = [  # type, body, the answer's type, check of its body
            (wire.UPDATE_BUDDY, struct.pack(">ii", 2, 1), wire.UPDATE_BUDDY_LIST,
             lambda b: b == struct.pack(">IB3x", 2, 1) + bytes(120)),
            (wire.BUDDY_QUERY, b"", wire.BUDDY_LIST, lambda b: entries(b) == [(0, 2)]),
            (wire.ORDER_QUERY, b"", wire.ORDER_LIST, lambda b: entries(b) == [(0, 1), (0, 2)]),
            (wire.PLAYER_SEARCH_QUERY, b"BO\0", wire.PLAYER_SEARCH_LIST, lambda b: entries(b) == [(0, 2)]),
            (wire.PLAYER_INFO_QUERY, struct.pack(">i", 2), wire.PLAYER_INFO,
             lambda b: b[4356:] == b"bob\0bob\0Order 7\0\0\0\0\0"
             and struct.unpack_from(">II", b, 28 + 48 * 36) == (2, 1)),
        ]
        for kind, body, answer, check in cases:
            with self.subTest(kind=kind):
                alice.send(kind, body)
                got = alice.expect(answer, skipping=True)
                self.assertTrue(check(got), got[-64:])

    def test_broken_frames_are_sent_as_configured(self):
        def decoded(kind, check):
            return lambda got, key: got[1] == kind and check(wire.decode_body(got[3], key))
        cases = {
            "length0": lambda got, key: got[2] == 0,
            "length3": lambda got, key: got[2] == 3,
            "length200000": lambda got, key: got[2] == 200000,
            "bad-identifier": lambda got, key: got[0] == 0xBEEF and wire.decode_body(got[3], key) == b"hello\0",
            "bad-check-block": lambda got, key: wire.decode_body(got[3], key) is None,
            "member-count": decoded(wire.ORDER_MEMBER_LIST, lambda b: struct.unpack_from(">i", b)[0] == 10000),
            "entries-past-end": decoded(wire.PLAYER_LIST, lambda b: wire.PLAYER_AUX.unpack_from(b)[6] > len(b)),
            "short-info": decoded(wire.PLAYER_INFO, lambda b: len(b) < 4356),
            "unterminated": decoded(wire.SERVER_MESSAGE, lambda b: b"\0" not in b[4:]),
            "unknown-type": decoded(11, lambda b: True),
        }
        self.assertEqual(set(cases), set(wire.MALFORMED_KINDS))
        self.start("--no-versions", "--test-games", "0")
        for kind, check in cases.items():
            with self.subTest(kind=kind):
                client = self.client()
                client.login("alice", "wonderland")
                self.lobby.send_line("malformed " + kind)
                got = client.burst()
                self.assertTrue(check(got, client.key), got)
                client.close()
                self.lobby.expect("closed alice")

    def test_broken_client_frames_close_that_connection_only(self):
        self.start()
        cases = [
            ("type 102", wire.HEADER.pack(wire.IDENTIFIER, wire.LOGOUT, 8)),  # before the key
            ("frame length 3", wire.HEADER.pack(wire.IDENTIFIER, wire.SESSION_KEY, 3)),
            ("frame length 200000", wire.HEADER.pack(wire.IDENTIFIER, wire.SESSION_KEY, 200000)),
            ("identifier 0xbeef", wire.HEADER.pack(0xBEEF, wire.SESSION_KEY, 16) + bytes(8)),
        ]
        for reason, frame in cases:
            with self.subTest(reason=reason):
                client = self.client(key_exchange=False)
                client.sock.sendall(frame)
                self.lobby.expect("closed")
                self.assertTrue(client.ended())
        client = self.client()
        client.sock.sendall(wire.HEADER.pack(wire.IDENTIFIER, wire.LOGIN, 8 + 30) + bytes(30))
        self.assertIn("check blocks", self.lobby.expect("closed"))
        self.assertNotIsInstance(self.client().login("alice", "wonderland"), int)


class ProbesAgainstTheService(unittest.TestCase):
    """vesk_lobby_probe, the game's lobby client, against the service: each
    case is its own service and probe, all run at once."""

    def run_probes(self, cases, seconds=60.0):
        """cases: (service options, [(user, password, probe options)]); for each case its service's
        lines and each probe's (exit status, lines, seconds taken)."""
        runs = []
        for options, probes in cases:
            lobby = Lobby(*options)
            self.addCleanup(lobby.stop)
            started = time.monotonic()
            runs.append((lobby, started, [Lines([PROBE, "--host", "127.0.0.1", "--port", str(lobby.port), "--user", user,
                                                 "--password", password] + list(more)) for user, password, more in probes]))
        results = []
        for lobby, started, probes in runs:
            finished = []
            for probe in probes:
                status, lines = probe.finish(max(1.0, started + seconds - time.monotonic()))
                finished.append((status, lines, time.monotonic() - started))
            results.append((lobby, finished))
        return results

    def test_logins_end_in_the_state_of_their_answer(self):
        cases = [  # service options, user, password, final state, login result (None: in a room)
            (("--authentication", "1"), "alice", "wonderland", 2, None),
            (("--authentication", "2"), "bob", "builder", 2, None),
            # A password character equal to its salt byte ends the digested text there ('w' is 0x77).
            (("--authentication", "2", "--salt", "77" + "00" * 15), "alice", "wonderland", 2, None),
            (("--authentication", "1", "--account", "carol:abcdefghijklmno"), "carol", "abcdefghijklmno", 2, None),
            (("--authentication", "2", "--account", "carol:abcdefghijklmno"), "carol", "abcdefghijklmno", 2, None),
            (("--authentication", "0"), "alice", "wonderland", 15, 0),  # plaintext refused
            (("--authentication", "7"), "alice", "wonderland", 15, 0),
            # A fixed salt: a random one starting with 'w' would cut both passwords to nothing.
            (("--salt", "01" * 16), "alice", "wrong", 3, 2),
            (("--locked", "alice"), "alice", "wonderland", 14, 0),
            ((), "Guest", "guest", 17, 2),
            (("--login-message", "1"), "alice", "wonderland", 5, 0),
            (("--login-message", "2"), "alice", "wonderland", 4, 0),
            (("--login-message", "6"), "alice", "wonderland", 9, 4),
            (("--login-message", "12"), "alice", "wonderland", 9, 4),
            (("--login-message", "15"), "alice", "wonderland", 15, 0),
            (("--login-message", "16"), "alice", "wonderland", 17, 2),
            (("--login-message", "17"), "alice", "wonderland", 18, 2),
        ]
        results = self.run_probes([(("--rooms", "1") + options, [(user, password, ("--seconds", "1"))])
                                   for options, user, password, _, _ in cases])
        for (options, user, _, state, result), (lobby, [(status, lines, _)]) in zip(cases, results):
            with self.subTest(options=options, user=user):
                self.assertIn("state %d" % state, lines)
                if result is None:
                    self.assertEqual(status, 0, lines)
                    self.assertIn("in room 0", lines)
                    self.assertEqual(len([line for line in lines if line.startswith("game ")]), 2, lines)
                else:
                    self.assertEqual(status, 1, lines)
                    self.assertTrue([line for line in lines if line.startswith("login failed: result %d:" % result)],
                                    lines)
                lobby.expect("closed %s" % user)
                if options == ("--authentication", "0"):  # the password never left the client
                    self.assertFalse([line for line in lobby.lines if line.startswith("response")], lobby.lines)

    def test_a_refusing_room_sends_the_probe_to_the_next(self):
        cases = [  # service options, the room asked for, the room entered, at least this long
            (("--rooms", "3", "--full-room", "1"), 1, 2, 0.0),
            (("--rooms", "2", "--silent-room", "0"), 0, 1, 5.0),  # its key never comes
        ]
        results = self.run_probes([(options, [("alice", "wonderland", ("--room", str(asked), "--seconds", "0"))])
                                   for options, asked, _, _ in cases])
        for (options, _, entered, least), (lobby, [(status, lines, taken)]) in zip(cases, results):
            with self.subTest(options=options):
                self.assertEqual(status, 0, lines)
                self.assertIn("in room %d" % entered, lines)
                self.assertGreaterEqual(taken, least)
                lobby.expect("room %d enter alice" % entered)

    def test_a_walk_through_rooms_that_never_take_the_login_ends_at_its_limit_or_at_once_on_sigterm(self):
        # Each mute room would hold the walk 5 s: six of them outlast both bounds.
        mute = ("--rooms", "6") + sum((("--mute-room", str(room)) for room in range(6)), ())
        [(_, [(status, lines, taken)])] = self.run_probes([(mute, [("alice", "wonderland", ("--login-seconds", "3"))])])
        self.assertEqual(status, 1, lines)
        self.assertIn("state 7", lines)  # not responding, and its message shown
        self.assertTrue([line for line in lines if line.startswith("login failed: result 0: ") and
                         not line.endswith("(no message)")], lines)
        # Its 3 s, then the reference machine's 2.5 s to end, scaled by this one's pace.
        self.assertLess(taken, 3 + scaled_seconds(2.5), lines)

        lobby = Lobby(*mute)
        self.addCleanup(lobby.stop)
        probe = Lines([PROBE, "--host", "127.0.0.1", "--port", str(lobby.port), "--user", "alice", "--password",
                       "wonderland"])
        self.addCleanup(probe.stop)
        lobby.expect("room 0 mute alice")
        asked = time.monotonic()
        probe.process.terminate()
        status, lines = probe.finish(5.0)
        self.assertLess(time.monotonic() - asked, scaled_seconds(1.0), lines)
        self.assertEqual(status, 1, lines)
        self.assertIn("state 6", lines)  # cancelled

    def test_two_probes_in_one_room_see_the_rooms_the_games_and_each_other(self):
        # The room takes both logins together, so each is there for the other's line.
        [(lobby, probes)] = self.run_probes([(("--hold-room-logins", "2", "--keepalive-ms", "500"), [
            ("alice", "wonderland", ("--room", "0", "--say", "hello from alice", "--seconds", "3")),
            ("bob", "builder", ("--room", "0", "--say", "hello from bob", "--seconds", "3"))])])
        for (status, lines, _), other in zip(probes, ("bob", "alice")):
            with self.subTest(other=other):
                self.assertEqual(status, 0, lines)
                self.assertEqual([line.split()[1] for line in lines if line.startswith("room ")], ["0", "1"])
                self.assertEqual([line for line in lines if line.startswith("game ")],
                                 ['game 1 verb 0 name "Test game one"', 'game 2 verb 0 name "Test game two"'])
                self.assertTrue([line for line in lines if line.startswith("chat from ")
                                 and line.endswith('"%s": hello from %s' % (other, other))], lines)
                lobby.expect("keepalive from %s (an answer)" % other)

    def test_a_probe_lists_changes_and_withdraws_its_game_under_the_id_the_room_gives_it(self):
        name = "A game whose name runs to forty letters"[:40].ljust(40, "!")
        [(lobby, probes)] = self.run_probes([(("--test-games", "0", "--hold-room-logins", "2"), [
            ("alice", "wonderland", ("--room", "0", "--list-game", name, "--seconds", "2")),
            ("bob", "builder", ("--room", "0", "--seconds", "3"))])])
        (alice_status, alice_lines, _), (bob_status, bob_lines, _) = probes
        self.assertEqual((alice_status, bob_status), (0, 0), alice_lines + bob_lines)
        self.assertIn("listed game id 1", alice_lines)
        listed = lobby.expect("game 1 listed")
        self.assertIn('by alice port 3453 order 0', listed)
        self.assertIn('name "%s"' % name[:31], listed)
        self.assertIn("players 1 flags 0 version 2182 build 443 in room 0", listed)
        self.assertIn("players 2", lobby.expect("game 1 changed"))
        lobby.expect("game 1 removed")
        self.assertEqual([line for line in bob_lines if line.startswith("game ")],
                         ['game 1 verb 0 name "%s"' % name[:31], 'game 1 verb 2 name "%s"' % name[:31],
                          'game 1 verb 1 name ""'])

    def test_broken_frames_close_the_connection_and_a_new_login_succeeds(self):
        cases = [(("--malformed", kind), 11) for kind in wire.MALFORMED_KINDS]
        cases += [(("--malformed", "length3", "--malformed-phase", "login"), 16),
                  (("--malformed", "bad-check-block", "--malformed-phase", "login"), 16),
                  (("--drop-room", "0:300"), 11)]
        # A probe left to run to its own end would end with status 0 after
        # 60 s, and one whose login timed out in another state: status 1 with
        # the state the broken frame leaves is the frame's doing, whatever
        # the time a busy machine took (a bound on it failed beside a busy loop
        # on every processor).
        results = self.run_probes([(options, [("alice", "wonderland", ("--seconds", "60"))]) for options, _ in cases])
        for (options, state), (lobby, [(status, lines, taken)]) in zip(cases, results):
            with self.subTest(options=options):
                self.assertEqual(status, 1, lines)
                self.assertIn("state %d" % state, lines)
                if options[0] == "--malformed":
                    lobby.expect("malformed %s to alice" % options[1])
                retry = Lines([PROBE, "--host", "127.0.0.1", "--port", str(lobby.port), "--user", "alice",
                               "--password", "wonderland", "--seconds", "0"])
                status, lines = retry.finish(60.0)
                self.assertEqual(status, 0, lines)
                self.assertIn("state 2", lines)


if __name__ == "__main__":
    if len(sys.argv) < 3:
        print(__doc__, file=sys.stderr)
        sys.exit(2)
    LOBBY, PROBE = sys.argv.pop(1), sys.argv.pop(1)
    unittest.main()
