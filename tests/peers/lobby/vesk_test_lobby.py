#!/usr/bin/env python3
"""vesk_test_lobby: a lobby service for tests, written from the lobby's wire
page (docs/lobby.md) and the packet layouts, sharing no code with the game.

It listens on 127.0.0.1: one port for logins and one port per room.  Every
connection starts with the session-key exchange (both key packets plain,
every later body encoded both ways); the login connection takes a login,
challenges the password, and answers with the login result and the room
list; a room connection takes a room login and the player's data and
answers with the room's acceptance, its player and game lists and the
player's data as the service keeps it; it lists, starts, scores and
withdraws the games its clients host, checking every listing packet field
by field, and answers buddy, order, search and information queries.
README.md beside this file gives the choices the protocol leaves open and
every option.

One line per event goes to standard output (flushed), for tests to read:
the ports first ("login PORT", "room ID PORT", then "ready"), then lines
such as "login alice ok id 1", "room 0 enter alice", "broadcast 0 alice 32",
"game 3 listed room 0 by alice ...", "refused type 114 from alice: ...".
Standard input takes commands (listed under --help too).
"""

import argparse
import hashlib
import os
import secrets
import selectors
import socket
import struct
import sys
import time
import traceback

IDENTIFIER = 0xDEAD
HEADER = struct.Struct(">Hhi")  # identifier, type, length of the whole packet
MAXIMUM_PACKET = 131072  # the client's receive buffer: nothing longer is framed
LOOPBACK = 0x7F000001

# The codec's check blocks and the key exchange's group (docs/lobby.md).
CHECK_BLOCK_1 = bytes.fromhex("5645534B4C425931")
CHECK_BLOCK_2 = bytes.fromhex("C35A0F9669F0A53C")
PRIME, GENERATOR = 32717, 18334

# Packet types.
ROOM_LIST, PLAYER_LIST, GAME_LIST, SERVER_MESSAGE = 0, 1, 2, 3
PASSWORD_CHALLENGE, USER_SUCCESSFUL_LOGIN = 6, 7
SET_PLAYER_DATA_FROM_METASERVER, ROOM_LOGIN_SUCCESSFUL = 8, 9
MESSAGE_OF_THE_DAY, SEND_VERSIONS, PLAYER_INFO, ORDER_MEMBER_LIST = 10, 12, 17, 20
PLAYER_SEARCH_LIST, BUDDY_LIST, ORDER_LIST, UPDATE_BUDDY_LIST = 14, 15, 16, 19
LOGIN, ROOM_LOGIN, LOGOUT, SET_PLAYER_DATA = 100, 101, 102, 103
CREATE_GAME, REMOVE_GAME, PASSWORD_RESPONSE, REQUEST_FULL_UPDATE = 104, 105, 109, 110
GAME_PLAYER_LIST, GAME_SCORE, RESET_GAME, START_GAME, VERSION_CONTROL = 111, 112, 113, 114, 115
PLAYER_SEARCH_QUERY, BUDDY_QUERY, ORDER_QUERY, UPDATE_BUDDY = 117, 118, 119, 120
PLAYER_INFO_QUERY, UPDATE_PLAYER_INFORMATION = 121, 122
ROOM_BROADCAST, DIRECTED_DATA, KEEPALIVE, SESSION_KEY = 200, 201, 202, 203
STREAM_HEADER, STREAM_COMMAND, STREAM_END = 204, 205, 206

# Server message codes.
SYNTAX_ERROR, GAMES_NOT_ALLOWED, BAD_VERSION, BAD_USER_OR_PASSWORD = 0, 1, 2, 3
USER_NOT_LOGGED_IN, ALREADY_LOGGED_IN, LOGIN_ACCEPTED, ROOM_FULL = 4, 6, 8, 13
ACCOUNT_LOCKED, NOT_SUPPORTED, GUESTS_DISALLOWED, GUEST_NAME_TAKEN = 14, 15, 16, 17
LOGIN_FAILURE_CODES = (1, 2, 3, 6, 12, 14, 15, 16, 17)
ROOM_FAILURE_CODES = (6, 12, 14, 15)
# Failed logins allowed per account, and per address, within the window (seconds).
LOGIN_FAILURE_LIMIT, LOGIN_FAILURE_LIMIT_PER_ADDRESS, LOGIN_FAILURE_WINDOW = 5, 20, 60

# Record layouts (big-endian).
LOGIN_DATA = struct.Struct(">hhiihh32s32s32s32s128shh")  # 276 bytes
PLAYER_AUX = struct.Struct(">HHiIihhhh")  # 24 bytes
GAME_AUX = struct.Struct(">iIHBBiih2x8x")  # 32 bytes
ROOM_INFO = struct.Struct(">hhIHhhh8x")  # 24 bytes
GAME_DESCRIPTION_SIZE = 568  # parameters (556), two checksums, flags, player count, pad
# Inside a game description: the parameters' build number (stored in the first
# half of its 32-bit word), version and room, then the flags and the player
# count after the checksums.
DESCRIPTION_FIELDS = ((">h", 32, "build"), (">i", 36, "version"), (">h", 40, "room"),
                      (">H", 564, "flags"), (">B", 566, "players"), (">h", 2, "scoring"), (">h", 18, "maximum"))
MAXIMUM_GAME_NAME, MAXIMUM_MAP_NAME = 31, 63
STANDINGS_HEAD, STANDINGS_PLAYER, MINIMUM_STANDINGS_PLAYERS, MAXIMUM_STANDINGS_PLAYERS = 216, 28, 16, 127
STANDINGS_PLAYER_RECORD = struct.Struct(">hhiiiiii")  # team, finished, time played, killed, lost x2, lobby id
PLAYER_INFO_SIZE = 4356  # the fixed part of a player info packet
NUMBER_OF_SCORE_DATUMS = 36
RECORDING_STREAM_ROOM_FLAGS = 3  # supports (1) and requires (2) a recording stream
ADD, DELETE, CHANGE = 0, 1, 2
MAXIMUM_PLAYER_DATA, MAXIMUM_GAME_DATA = 128, 1024
MAXIMUM_PLAYERS_PER_ROOM = 16
TEST_GAMES = (("Test game one", "Plains"), ("Test game two", "Hills"))
GUEST_NAME = b"Guest"  # what the game makes of an empty login

COMMANDS = """commands on standard input, one per line:
  drop-room ROOM      close the connection of every client in ROOM (the room went down)
  keepalive           send a keepalive to every connection past its key exchange
  malformed KIND      send one broken frame of KIND to every such connection
  message CODE TEXT   send a server message to every such connection
  quit                stop"""
PUBLIC_TAGS_CHECKSUM_OFFSET = 556  # in a game description

MALFORMED_KINDS = ("length0", "length3", "length200000", "bad-identifier", "bad-check-block",
                   "member-count", "entries-past-end", "short-info", "unterminated", "unknown-type")


# --- Session key and body codec -------------------------------------------

def make_key_pair():
    """Four private values and the matching public values, low byte first."""
    private = [secrets.randbelow(PRIME - 1) for _ in range(4)]
    public = [pow(GENERATOR, k, PRIME) for k in private]
    return private, struct.pack("<4H", *public)


def session_key(private, peer_public):
    return struct.pack("<4H", *(pow(value, k, PRIME) for value, k in
                                zip(struct.unpack("<4H", peer_public), private)))


def encode_body(body, key, check_block_1=CHECK_BLOCK_1):
    b = bytearray(os.urandom(4) + check_block_1 + body + CHECK_BLOCK_2 + os.urandom(4))
    n = len(b)
    for i in range(n):
        b[i] ^= b[(i + 1) % n]
        b[(i + 2) % n] ^= b[i]
    for j in range(n - 1, -1, -1):
        b[j] ^= b[(j - 1) % n]
        b[(j - 3) % n] ^= b[j]
    for i in range(n):
        b[i] ^= key[i % 8]
    return bytes(b)


def decode_body(data, key):
    """The body, or None when it is too short or a check block differs."""
    n = len(data)
    if n < 24:
        return None
    b = bytearray(data[i] ^ key[i % 8] for i in range(n))
    for j in range(n):
        b[(j - 3) % n] ^= b[j]
        b[j] ^= b[(j - 1) % n]
    for i in range(n - 1, -1, -1):
        b[(i + 2) % n] ^= b[i]
        b[i] ^= b[(i + 1) % n]
    if b[4:12] != CHECK_BLOCK_1 or b[n - 12:n - 4] != CHECK_BLOCK_2:
        return None
    return bytes(b[12:n - 12])


# --- Password responses -----------------------------------------------------

def expected_response(password, salt, kind):
    """The response a client holding `password` (bytes) sends to a challenge."""
    if kind == 0:
        return password[:15] + bytes(16 - len(password[:15]))
    if kind == 1:
        block = bytearray(b"#" * 16)
        block[:len(password[:15]) + 1] = password[:15] + b"\0"
        out = bytearray(block[i] ^ salt[i] for i in range(16))
        for i in range(1, 16):
            out[i] ^= out[i - 1]
        for i in range(1, 16):
            out[i] = ~(out[i - 1] * out[i]) & 0xFF
        return bytes(out)
    if kind == 2:
        text = bytearray(password)
        for i in range(min(16, len(text))):
            text[i] ^= salt[i]
        text = bytes(text).split(b"\0", 1)[0]
        digest = hashlib.md5(text).hexdigest().encode()
        return digest + bytes(64 - len(digest))
    return bytes(16)  # an unknown type is answered with zeros


def uncut_salt(salt, password):
    """`salt` with every byte that equals the password's byte at its place
    changed: under the MD5 challenge such a byte ends the digested text there,
    and any password sharing what is left would pass."""
    salt = bytearray(salt)
    for i in range(min(len(salt), len(password))):
        while salt[i] == password[i]:
            salt[i] = secrets.randbelow(256)
    return bytes(salt)


def response_size(kind):
    return 64 if kind == 2 else 16


def c_string(data, offset=0):
    """The NUL-terminated text at `offset`, or None when it is unterminated."""
    end = data.find(b"\0", offset)
    return None if end < 0 else data[offset:end]


# --- Connections ------------------------------------------------------------

class Game:
    """A listed game: its creator, address and data, and once started its length."""

    def __init__(self, creator, host, port, data):
        self.creator, self.host, self.port, self.data = creator, host, port, data
        self.started_at = None  # time.monotonic() of the start
        self.seconds = 0  # the start's length in seconds; -1: no time limit
        self.players = []

    def seconds_remaining(self):
        """0 before the start, -1 without a time limit, else what is left (at least 0)."""
        if self.started_at is None:
            return 0
        if self.seconds < 0:
            return -1
        return max(0, self.seconds - int(time.monotonic() - self.started_at))


class Connection:
    def __init__(self, server, sock, room):
        self.server, self.sock, self.room = server, sock, room  # room None: the login port
        self.name = "%s:%d" % sock.getpeername()
        self.inbox, self.outbox = bytearray(), bytearray()
        self.key = None
        self.private = None
        self.account = None  # the account name, once known
        self.user_id = 0
        self.challenge = None  # (type, salt) while a response is awaited
        self.entered = False  # accepted in its room
        self.held = False  # its room login waits for others (--hold-room-logins)
        self.held_player_data = None
        self.player_data = b""
        self.guest = False
        self.logged_in = False  # a login connection whose login succeeded
        self.keepalive_outstanding = False  # our keepalive (or answer) not yet answered
        self.closed = False
        self.close_after_flush = False
        self.last_heard = self.last_sent = time.monotonic()

    def who(self):
        return self.account.decode(errors="replace") if self.account else self.name

    def send_raw(self, data):
        if self.closed:
            return
        self.outbox += data
        self.last_sent = time.monotonic()
        self.flush()

    def send(self, kind, body=b"", identifier=IDENTIFIER, check_block_1=CHECK_BLOCK_1):
        if self.key is not None:
            body = encode_body(body, self.key, check_block_1)
        self.send_raw(HEADER.pack(identifier, kind, HEADER.size + len(body)) + body)

    def send_keepalive(self):
        self.keepalive_outstanding = True
        self.send(KEEPALIVE)

    def message(self, code, text):
        self.send(SERVER_MESSAGE, struct.pack(">i", code) + text.encode()[:127] + b"\0")

    def flush(self):
        try:
            while self.outbox:
                sent = self.sock.send(self.outbox)
                del self.outbox[:sent]
        except BlockingIOError:
            pass
        except OSError as error:
            self.close("send failed: %s" % error.strerror)
            return
        if self.close_after_flush and not self.outbox:
            self.close("closed by the service")
        else:
            self.server.watch(self)

    def close(self, reason):
        if self.closed:
            return
        self.closed = True
        self.server.say("closed %s %s" % (self.who(), reason))
        self.server.forget(self)
        try:
            self.sock.close()
        except OSError:
            pass

    def receive(self):
        try:
            chunk = self.sock.recv(65536)
        except BlockingIOError:
            return
        except OSError as error:
            self.close("reset: %s" % error.strerror)
            return
        if not chunk:
            self.close("by the client")
            return
        self.last_heard = time.monotonic()
        self.inbox += chunk
        while len(self.inbox) >= HEADER.size and not self.closed:
            identifier, kind, length = HEADER.unpack_from(self.inbox)
            if length < HEADER.size or length > MAXIMUM_PACKET:
                self.close("refused: frame length %d" % length)
                return
            if len(self.inbox) < length:
                return
            body = bytes(self.inbox[HEADER.size:length])
            del self.inbox[:length]
            if identifier != IDENTIFIER:
                self.close("refused: identifier 0x%04x" % identifier)
                return
            try:
                self.server.dispatch(self, kind, body)
            except Exception:  # a fault of this server: said loudly, and only this client pays
                traceback.print_exc()
                self.close("internal error on type %d" % kind)


class Server:
    def __init__(self, options):
        self.options = options
        self.selector = selectors.DefaultSelector()
        self.connections = set()
        self.timers = []  # (when, procedure)
        self.accounts = options.accounts  # name -> {password, id, order}
        self.locked = {name.encode() for name in options.locked or []}
        self.failed_logins = {}  # ("account", name) or ("address", host) -> times of failed logins
        self.tokens = {}  # token -> (account, user id, player data of the login)
        self.next_guest_id = 1000
        self.next_game_id = 1
        self.known_games = set()  # every id ever listed: scores may come after a listing ends
        self.games = {}  # room -> {game id: Game}
        self.games_played = {}  # user id -> score packets that named the player
        self.buddies = {}  # account -> [user ids], at most 16
        self.descriptions = {}  # account -> the four texts of its last information update
        self.malformed_pending = options.malformed_count if options.malformed else 0
        self.running = True
        self.login_listener = self.listen(options.port, None)
        self.room_listeners = {}
        for room in range(options.rooms):
            self.room_listeners[room] = self.listen(0, room)
            self.games[room] = {}
            for game_name, map_name in TEST_GAMES[:options.test_games]:
                data = bytearray(GAME_DESCRIPTION_SIZE)
                data[566] = 1  # one player so far
                data += game_name.encode() + b"\0" + map_name.encode() + b"\0"
                self.games[room][self.new_game_id()] = Game(0, LOOPBACK, 3453 + room, bytes(data))

    def new_game_id(self):
        self.next_game_id += 1
        self.known_games.add(self.next_game_id - 1)
        return self.next_game_id - 1

    def say(self, text):
        try:
            sys.stdout.write(text + "\n")
            sys.stdout.flush()
        except OSError:  # nobody reads any more: keep serving, silently
            os.dup2(os.open(os.devnull, os.O_WRONLY), sys.stdout.fileno())

    def listen(self, port, room):
        listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        listener.bind(("127.0.0.1", port))
        listener.listen(16)
        listener.setblocking(False)
        self.selector.register(listener, selectors.EVENT_READ, ("listener", room))
        return listener

    def room_port(self, room):
        return self.room_listeners[room].getsockname()[1]

    def watch(self, connection):
        events = selectors.EVENT_READ | (selectors.EVENT_WRITE if connection.outbox else 0)
        self.selector.modify(connection.sock, events, ("connection", connection))

    def forget(self, connection):
        if connection not in self.connections:
            return
        self.connections.discard(connection)
        self.selector.unregister(connection.sock)
        if connection.entered:
            self.leave_room(connection)

    def after(self, milliseconds, procedure):
        self.timers.append((time.monotonic() + milliseconds / 1000.0, procedure))

    def in_room(self, room):
        return [c for c in self.connections if c.room == room and c.entered]

    def online(self, account):
        return [c for c in self.connections if c.account == account and (c.entered or c.held or c.logged_in)]

    # --- The exchange every connection starts with --------------------------

    def dispatch(self, connection, kind, body):
        if connection.key is None:
            if connection.private is not None:
                return  # a room whose key never comes hears nothing more
            if kind != SESSION_KEY or len(body) != 8:
                connection.close("refused: type %d (%d bytes) before the session key" % (kind, len(body)))
                return
            connection.private, public = make_key_pair()
            room = "login" if connection.room is None else "room %d" % connection.room
            if connection.room in self.options.silent_room:
                self.say("key withheld %s" % room)
                return
            connection.send(SESSION_KEY, public)
            connection.key = session_key(connection.private, body)
            self.say("key %s" % room)
            return
        decoded = decode_body(body, connection.key)
        if decoded is None:
            connection.close("refused: type %d fails its check blocks" % kind)
            return
        if kind == KEEPALIVE:
            # The client answers every keepalive of ours, so one that answers
            # ours is not answered again: that would never end.
            answer = not connection.keepalive_outstanding
            self.say("keepalive from %s%s" % (connection.who(), "" if answer else " (an answer)"))
            connection.keepalive_outstanding = False
            if answer:
                connection.send_keepalive()
        elif kind == SESSION_KEY:
            self.say("ignored second session key from %s" % connection.who())
        elif connection.room is None:
            self.dispatch_login(connection, kind, decoded)
        else:
            self.dispatch_room(connection, kind, decoded)

    # --- Login connection ---------------------------------------------------

    def dispatch_login(self, connection, kind, body):
        if kind == LOGIN:
            self.login(connection, body)
        elif kind == PASSWORD_RESPONSE:
            self.check_response(connection, body)
        elif kind == LOGOUT:
            connection.close("logged out")
        else:
            self.say("ignored type %d on the login connection" % kind)

    def refuse_login(self, connection, code, text):
        self.say("login %s refused %d" % (connection.who(), code))
        connection.challenge = None
        connection.message(code, text)

    def failure_keys(self, connection):
        return [("account", connection.account), ("address", connection.sock.getpeername()[0])]

    def too_many_failed_logins(self, connection):
        """True when the account or the address failed LOGIN_FAILURE_LIMIT
        logins (or the address LOGIN_FAILURE_LIMIT_PER_ADDRESS) within the
        last LOGIN_FAILURE_WINDOW seconds: guessing is held to that pace."""
        now = time.monotonic()
        for key in self.failure_keys(connection):
            times = [t for t in self.failed_logins.get(key, []) if now - t < LOGIN_FAILURE_WINDOW]
            self.failed_logins[key] = times
            if len(times) >= (LOGIN_FAILURE_LIMIT if key[0] == "account" else LOGIN_FAILURE_LIMIT_PER_ADDRESS):
                self.say("login %s refused: %d failed logins of its %s within %d seconds" %
                         (connection.who(), len(times), key[0], LOGIN_FAILURE_WINDOW))
                return True
        return False

    def note_failed_login(self, connection):
        for key in self.failure_keys(connection):
            self.failed_logins.setdefault(key, []).append(time.monotonic())

    def login(self, connection, body):
        if len(body) < LOGIN_DATA.size or connection.account is not None:
            connection.message(SYNTAX_ERROR, "Bad login")
            connection.close("refused: login of %d bytes or repeated" % len(body))
            return
        (_, platform, _, user_id, max_authentication, _, application, _, _, username, _, _,
         _) = LOGIN_DATA.unpack_from(body)
        connection.account = username.split(b"\0", 1)[0] or b"?"
        connection.guest = connection.account == GUEST_NAME
        self.say("login %s platform %d user %d max authentication %d" %
                 (connection.who(), platform, user_id, max_authentication))
        player_size = max(0, min(struct.unpack_from(">h", body, 14)[0], MAXIMUM_PLAYER_DATA))
        connection.player_data = body[144:144 + player_size]
        if self.malformed_pending and self.options.malformed_phase == "login":
            self.malformed_pending -= 1
            self.send_malformed(connection, self.options.malformed)
            return
        if application.split(b"\0", 1)[0] != b"VESK2":
            self.refuse_login(connection, BAD_VERSION, "This application is not served here")
            return
        if connection.guest:
            if not self.options.guests:
                self.refuse_login(connection, GUESTS_DISALLOWED, "Guests are not allowed")
                return
            if self.online(connection.account):
                self.refuse_login(connection, GUEST_NAME_TAKEN, "That name is taken")
                return
        if self.too_many_failed_logins(connection):
            self.refuse_login(connection, ACCOUNT_LOCKED, "Too many failed logins: try again later")
            return
        salt = bytes.fromhex(self.options.salt) if self.options.salt else os.urandom(16)
        account = self.accounts.get(connection.account)
        password = self.options.guest_password.encode()[:15] if connection.guest else account and account["password"]
        if password and self.options.authentication == 2 and uncut_salt(salt, password) != salt:
            self.say("salt for %s changed: it would cut the password short" % connection.who())
            salt = uncut_salt(salt, password)
        connection.challenge = (self.options.authentication, salt)
        connection.send(PASSWORD_CHALLENGE, struct.pack(">h", self.options.authentication) + salt)

    def check_response(self, connection, body):
        if connection.challenge is None:
            self.say("ignored password response from %s" % connection.who())
            return
        kind, salt = connection.challenge
        connection.challenge = None
        account = self.accounts.get(connection.account)
        if connection.guest:
            account = {"password": self.options.guest_password.encode()[:15]}
        if account is None:
            good = False
        elif kind == 0:
            good = len(body) == 16 and body.split(b"\0", 1)[0] == account["password"]
        else:  # types 1 and 2 exactly; any other type must be answered with 16 zeros
            good = body == expected_response(account["password"], salt, kind)
        self.say("response %s type %d %d bytes %s" % (connection.who(), kind, len(body), "good" if good else "bad"))
        if kind not in (0, 1, 2):
            self.refuse_login(connection, NOT_SUPPORTED, "Authentication not supported")
        elif not good:
            self.note_failed_login(connection)
            self.refuse_login(connection, BAD_USER_OR_PASSWORD, "Bad user name or password")
        elif connection.account in self.locked:
            self.refuse_login(connection, ACCOUNT_LOCKED, "This account is locked")
        elif [c for c in self.online(connection.account) if c is not connection]:
            self.refuse_login(connection, ALREADY_LOGGED_IN, "Already logged in")
        elif self.options.login_message is not None:
            self.refuse_login(connection, self.options.login_message, "Refused by the test's choice")
        else:
            if connection.guest:
                user_id, order = self.next_guest_id, 0
                self.next_guest_id += 1
            else:
                user_id, order = account["id"], account["order"]
            connection.user_id = user_id
            connection.logged_in = True
            token = os.urandom(32)
            self.tokens[token] = (connection.account, user_id, connection.player_data)
            self.say("login %s ok id %d" % (connection.who(), user_id))
            connection.send(USER_SUCCESSFUL_LOGIN, struct.pack(">ihh", user_id, order, 0) + token)
            connection.send(ROOM_LIST, self.room_list())

    def room_list(self):
        return b"".join(ROOM_INFO.pack(room, len(self.in_room(room)), LOOPBACK, self.room_port(room),
                                       len(self.games[room]), self.options.room_type.get(room, 0),
                                       self.options.room_flags.get(room, 0))
                        for room in sorted(self.room_listeners))

    # --- Room connections ---------------------------------------------------

    def dispatch_room(self, connection, kind, body):
        if kind == ROOM_LOGIN:
            self.room_login(connection, body)
            return
        if kind == SET_PLAYER_DATA and connection.held:
            connection.held_player_data = body  # answered once the room takes it
            return
        if not connection.entered:
            self.say("ignored type %d before the room login" % kind)
            return
        room = connection.room
        if kind == SET_PLAYER_DATA:
            self.take_player_data(connection, body)
        elif kind == ROOM_BROADCAST:
            self.say("broadcast %d %s %d" % (room, connection.who(), len(body)))
            self.to_room(room, ROOM_BROADCAST, body)
        elif kind == DIRECTED_DATA:
            if len(body) < 8:
                self.say("refused directed data of %d bytes" % len(body))
                return
            target, second = struct.unpack_from(">Ii", body)
            receivers = [c for c in self.connections if c.entered and c.user_id == target]
            self.say("directed %s -> %d %s" % (connection.who(), target, "delivered" if receivers else "nobody"))
            for receiver in receivers:
                receiver.send(DIRECTED_DATA, struct.pack(">Ii", connection.user_id, second) + body[8:])
        elif kind == VERSION_CONTROL and len(body) >= 16:
            self.say("versions %d %d %d %d" % struct.unpack_from(">4i", body))
        elif kind == REQUEST_FULL_UPDATE:
            self.send_lists(connection)
        elif kind == CREATE_GAME:
            self.create_game(connection, body)
        elif kind == REMOVE_GAME:
            if self.refused(connection, kind, body, 0):
                return
            self.remove_games(connection)
        elif kind in (RESET_GAME, GAME_PLAYER_LIST, START_GAME, GAME_SCORE, STREAM_HEADER, STREAM_COMMAND,
                      STREAM_END):
            self.game_report(connection, kind, body)
        elif kind in (BUDDY_QUERY, ORDER_QUERY, UPDATE_BUDDY, PLAYER_SEARCH_QUERY, PLAYER_INFO_QUERY,
                      UPDATE_PLAYER_INFORMATION):
            self.answer_query(connection, kind, body)
        elif kind == LOGOUT:
            connection.close("logged out")
        else:
            self.say("ignored type %d in room %d" % (kind, room))

    def room_login(self, connection, body):
        room = connection.room
        name = c_string(body, 32) if len(body) > 32 else None
        known = self.tokens.get(body[:32]) if name is not None else None
        if known is None or known[0] != name or connection.entered or connection.held:
            self.say("room %d refused login of %s" % (room, connection.who()))
            connection.message(USER_NOT_LOGGED_IN, "Not logged in")
            connection.close_after_flush = True
            connection.flush()
            return
        connection.account, connection.user_id, connection.player_data = known
        if room in self.options.full_room:
            self.say("room %d full %s" % (room, connection.who()))
            connection.message(ROOM_FULL, "This room is full")
            return
        if room in self.options.mute_room:
            self.say("room %d mute %s" % (room, connection.who()))
            return
        code = self.options.room_message.get(room)
        if code is not None:
            self.say("room %d refused %s %d" % (room, connection.who(), code))
            connection.message(code, "Refused by the test's choice")
            return
        for earlier in [c for c in self.connections if c.account == connection.account and c is not connection]:
            earlier.close("replaced by a newer connection")
        connection.held = True
        held = [c for c in self.connections if c.room == room and c.held]
        if len(held) < self.options.hold_room_logins:
            self.say("room %d holds %s" % (room, connection.who()))
            return
        for waiting in sorted(held, key=lambda c: c.user_id):
            self.enter_room(waiting)

    def enter_room(self, connection):
        room = connection.room
        connection.held = False
        connection.entered = True
        self.say("room %d enter %s" % (room, connection.who()))
        connection.message(LOGIN_ACCEPTED, "Welcome")
        connection.send(ROOM_LOGIN_SUCCESSFUL, struct.pack(">Ihh", connection.user_id, MAXIMUM_PLAYERS_PER_ROOM, 0))
        self.send_lists(connection)
        self.to_room(room, PLAYER_LIST, self.player_entry(connection, ADD), but=connection)
        if self.options.versions:
            connection.send(SEND_VERSIONS)
        if self.options.buddy_lists:
            self.send_buddy_lists(connection)
        for drop_room, milliseconds in self.options.drop_room:
            if drop_room == room:
                self.after(milliseconds, lambda c=connection: c.close("room %d went down" % room))
        if connection.held_player_data is not None:
            self.take_player_data(connection, connection.held_player_data)

    def take_player_data(self, connection, body):
        if len(body) > MAXIMUM_PLAYER_DATA:
            self.say("refused player data of %d bytes from %s" % (len(body), connection.who()))
            return
        connection.player_data = body
        self.say("room %d player data %s %d bytes" % (connection.room, connection.who(), len(body)))
        connection.send(SET_PLAYER_DATA_FROM_METASERVER, self.player_entry(connection, CHANGE))
        self.to_room(connection.room, PLAYER_LIST, self.player_entry(connection, CHANGE), but=connection)
        self.maybe_send_malformed(connection)

    def send_lists(self, connection):
        room = connection.room
        connection.send(PLAYER_LIST, b"".join(self.player_entry(c, ADD) for c in
                                              sorted(self.in_room(room), key=lambda c: c.user_id)))
        connection.send(GAME_LIST, b"".join(self.game_entry(g, entry, ADD)
                                            for g, entry in sorted(self.games[room].items())))

    def player_entry(self, connection, verb):
        data = connection.player_data if verb != DELETE else b""
        return PLAYER_AUX.pack(verb, 0, 0, connection.user_id, connection.room, 0, len(data),
                               self.accounts.get(connection.account, {}).get("order", 0), 0) + data

    def game_entry(self, game_id, game, verb):
        data = game.data if verb != DELETE else b""
        return GAME_AUX.pack(game_id, game.host, game.port, verb, 1, game.seconds_remaining(), game.creator,
                             len(data)) + data

    def to_room(self, room, kind, body, but=None):
        for connection in self.in_room(room):
            if connection is not but:
                connection.send(kind, body)

    def remove_games(self, connection):
        games = self.games.get(connection.room, {})
        for game_id in [g for g, game in games.items() if game.creator == connection.user_id]:
            self.say("game %d removed" % game_id)
            game = games.pop(game_id)
            self.to_room(connection.room, GAME_LIST, self.game_entry(game_id, game, DELETE))

    def leave_room(self, connection):
        connection.entered = False
        self.remove_games(connection)
        self.to_room(connection.room, PLAYER_LIST, self.player_entry(connection, DELETE))

    # --- Listed games, scores and recording streams -------------------------

    def refused(self, connection, kind, body, size):
        """Logs and refuses a packet whose body is not `size` bytes."""
        if len(body) == size:
            return False
        self.refuse(connection, kind, "%d bytes, %d expected" % (len(body), size))
        return True

    def refuse(self, connection, kind, reason):
        self.say("refused type %d from %s: %s" % (kind, connection.who(), reason))

    def own_game(self, connection):
        """(game id, Game) of the sender's listed game in its room, or (None, None)."""
        for game_id, game in self.games[connection.room].items():
            if game.creator == connection.user_id:
                return game_id, game
        return None, None

    @staticmethod
    def game_data_fault(body):
        """Why a create-game body is refused, or None."""
        if len(body) < 4 + GAME_DESCRIPTION_SIZE + 2:
            return "%d bytes, short of the description and two names" % len(body)
        if len(body) > 4 + MAXIMUM_GAME_DATA:
            return "%d bytes of game data, above %d" % (len(body) - 4, MAXIMUM_GAME_DATA)
        port, order = struct.unpack_from(">Hh", body)
        if port == 0 or order not in (0, 1):
            return "port %d, order flag %d" % (port, order)
        names = body[4 + GAME_DESCRIPTION_SIZE:]
        if not names.endswith(b"\0") or names.count(b"\0") != 2:
            return "the two names do not end exactly at the end of the data"
        name, map_name = names[:-1].split(b"\0")
        if len(name) > MAXIMUM_GAME_NAME or len(map_name) > MAXIMUM_MAP_NAME:
            return "a name of %d or a map name of %d characters" % (len(name), len(map_name))
        return None

    def create_game(self, connection, body):
        fault = self.game_data_fault(body)
        if fault:
            self.refuse(connection, CREATE_GAME, fault)
            return
        port, order = struct.unpack_from(">Hh", body)
        data = body[4:]
        if self.options.other_data:
            data = bytearray(data)
            checksum = struct.unpack_from(">I", data, PUBLIC_TAGS_CHECKSUM_OFFSET)[0] ^ 1
            struct.pack_into(">I", data, PUBLIC_TAGS_CHECKSUM_OFFSET, checksum)
            data = bytes(data)
        game_id, game = self.own_game(connection)
        verb = ADD if game is None else CHANGE
        if game is None:
            host = struct.unpack(">I", socket.inet_aton(connection.sock.getpeername()[0]))[0]
            game_id, game = self.new_game_id(), Game(connection.user_id, host, port, data)
            self.games[connection.room][game_id] = game
        game.port, game.data = port, data
        fields = {label: struct.unpack_from(form, data, offset)[0] for form, offset, label in DESCRIPTION_FIELDS}
        name, map_name = data[GAME_DESCRIPTION_SIZE:-1].split(b"\0")
        self.say('game %d %s room %d by %s port %d order %d bytes %d name "%s" map "%s" players %d flags %d '
                 'version %d build %d in room %d scoring %d maximum %d' %
                 (game_id, "listed" if verb == ADD else "changed", connection.room, connection.who(), port, order,
                  len(data), name.decode(errors="replace"), map_name.decode(errors="replace"), fields["players"],
                  fields["flags"], fields["version"], fields["build"], fields["room"], fields["scoring"],
                  fields["maximum"]))
        self.to_room(connection.room, GAME_LIST, self.game_entry(game_id, game, verb))

    def game_report(self, connection, kind, body):
        if kind == GAME_SCORE:
            self.take_score(connection, body)
            return
        game_id, game = self.own_game(connection)
        if game is None:
            self.refuse(connection, kind, "no listed game")
        elif kind == RESET_GAME:
            if not self.refused(connection, kind, body, 0):
                game.started_at, game.players = None, []
                self.say("game %d reset" % game_id)
        elif kind == GAME_PLAYER_LIST:
            if len(body) < 4 or len(body) % 4 or len(body) > 4 + 4 * MAXIMUM_PLAYERS_PER_ROOM:
                self.refuse(connection, kind, "%d bytes are no game id and player ids" % len(body))
            elif struct.unpack_from(">i", body)[0] != game_id:
                self.refuse(connection, kind, "game %d is not %d" % (struct.unpack_from(">i", body)[0], game_id))
            else:
                game.players = list(struct.unpack_from(">%dI" % (len(body) // 4 - 1), body, 4))
                self.say("game %d players %s" % (game_id, " ".join(map(str, game.players)) or "none"))
        elif kind == START_GAME:
            if self.refused(connection, kind, body, 12):
                return
            seconds = struct.unpack_from(">i", body)[0]
            if (seconds != -1 and seconds <= 0) or body[4:] != bytes(8):
                self.refuse(connection, kind, "length %d or padding %s" % (seconds, body[4:].hex()))
                return
            game.started_at, game.seconds = time.monotonic(), seconds
            self.say("game %d started seconds %d" % (game_id, seconds))
            self.to_room(connection.room, GAME_LIST, self.game_entry(game_id, game, CHANGE))
        elif (self.options.room_flags.get(connection.room, 0) & RECORDING_STREAM_ROOM_FLAGS
              != RECORDING_STREAM_ROOM_FLAGS or game.started_at is None):
            self.refuse(connection, kind, "a recording stream outside a started game in a streaming room")
        elif kind == STREAM_END:
            if not self.refused(connection, kind, body, 4):
                self.say("game %d stream end %d" % (game_id, struct.unpack(">i", body)[0]))
        elif not body:
            self.refuse(connection, kind, "an empty piece of the stream")
        else:
            self.say("game %d stream %s %d bytes" % (game_id, "header" if kind == STREAM_HEADER else "command",
                                                     len(body)))

    def take_score(self, connection, body):
        if len(body) < 4 + STANDINGS_HEAD:
            self.refuse(connection, GAME_SCORE, "%d bytes, short of the standings' head" % len(body))
            return
        game_id, ended, _, _, _, elapsed, _, players = struct.unpack_from(">ihhiiiih", body)
        records = max(MINIMUM_STANDINGS_PLAYERS, players)
        first = 4 + STANDINGS_HEAD
        if not 0 <= players <= MAXIMUM_STANDINGS_PLAYERS or len(body) != first + STANDINGS_PLAYER * records:
            self.refuse(connection, GAME_SCORE, "%d bytes for %d players" % (len(body), players))
            return
        if game_id not in self.known_games:
            self.refuse(connection, GAME_SCORE, "game %d was never listed" % game_id)
            return
        if any(body[first + STANDINGS_PLAYER * players:]):
            self.refuse(connection, GAME_SCORE, "player records past its %d players" % players)
            return
        standings = [STANDINGS_PLAYER_RECORD.unpack_from(body, first + STANDINGS_PLAYER * i) for i in range(players)]
        for record in standings:
            self.games_played[record[7]] = self.games_played.get(record[7], 0) + 1
        self.say("score %d from %s ended %d elapsed %d players %d%s" %
                 (game_id, connection.who(), ended, elapsed, players,
                  "".join(" %d:team=%d,killed=%d,lost=%d" % (r[7], r[0], r[3], r[4]) for r in standings)))

    # --- Buddies, orders, searches and player information -------------------

    def account_of(self, user_id):
        for name, account in self.accounts.items():
            if account["id"] == user_id:
                return name, account
        return None, None

    def online_entry(self, connection):
        """A search, buddy or order list entry: the room, then the player's entry."""
        return struct.pack(">i", connection.room) + self.player_entry(connection, ADD)

    def send_buddy_lists(self, connection):
        """The buddy list (16 entries) and, in an order, its members: they enable the client's tabs."""
        online = {c.user_id for c in self.connections if c.entered}
        buddies = self.buddies.get(connection.account, [])[:16]
        connection.send(UPDATE_BUDDY_LIST, b"".join(struct.pack(">IB3x", b, b in online) for b in buddies)
                        + bytes(8 * (16 - len(buddies))))
        order = self.accounts.get(connection.account, {}).get("order", 0)
        if order:
            members = sorted(a["id"] for a in self.accounts.values() if a["order"] == order)[:50]
            connection.send(ORDER_MEMBER_LIST, struct.pack(">i", len(members)) +
                            b"".join(struct.pack(">Ii", m, m in online) for m in members))

    def answer_query(self, connection, kind, body):
        order = self.accounts.get(connection.account, {}).get("order", 0)
        in_rooms = sorted((c for c in self.connections if c.entered), key=lambda c: c.user_id)
        if kind == BUDDY_QUERY:
            buddies = self.buddies.get(connection.account, [])
            found = [c for c in in_rooms if c.user_id in buddies]
            connection.send(BUDDY_LIST, b"".join(self.online_entry(c) for c in found))
            self.say("buddies of %s: %d online" % (connection.who(), len(found)))
        elif kind == ORDER_QUERY:
            found = [c for c in in_rooms if order and self.accounts.get(c.account, {}).get("order") == order]
            connection.send(ORDER_LIST, b"".join(self.online_entry(c) for c in found))
            self.say("order of %s: %d online" % (connection.who(), len(found)))
        elif kind == UPDATE_BUDDY:
            if self.refused(connection, kind, body, 8):
                return
            player, add = struct.unpack(">ii", body)
            buddies = [b for b in self.buddies.get(connection.account, []) if b != player]
            if add and len(buddies) < 16:
                buddies.append(player)
            self.buddies[connection.account] = buddies
            self.say("buddy %s %s %d" % (connection.who(), "add" if add else "remove", player))
            self.send_buddy_lists(connection)
        elif kind == PLAYER_SEARCH_QUERY:
            text = c_string(body)
            if text is None:
                self.refuse(connection, kind, "an unterminated search text")
                return
            found = [c for c in in_rooms if text.lower() in c.account.lower()][:32]
            connection.send(PLAYER_SEARCH_LIST, b"".join(self.online_entry(c) for c in found))
            self.say('search %s "%s": %d found' % (connection.who(), text.decode(errors="replace"), len(found)))
        elif kind == PLAYER_INFO_QUERY:
            if self.refused(connection, kind, body, 4):
                return
            player = struct.unpack(">i", body)[0]
            name, account = self.account_of(player)
            if account is None:
                self.say("info for unknown player %d" % player)
                return
            connection.send(PLAYER_INFO, self.player_info(player, name, account))
            self.say("info for %d to %s" % (player, connection.who()))
        else:  # UPDATE_PLAYER_INFORMATION: four terminated texts
            texts = body.split(b"\0")
            if len(body) > 433 or len(texts) != 5 or texts[4]:
                self.refuse(connection, kind, "no four terminated texts within 433 bytes")
                return
            self.descriptions[connection.account] = body
            self.say("information of %s %d bytes" % (connection.who(), len(body)))

    def player_info(self, player, name, account):
        """Type 17: the fixed part (games played in score datum 0; every other score and ranking 0;
        the counts of accounts and orders), then the names and the four texts."""
        fixed = bytearray(PLAYER_INFO_SIZE)
        struct.pack_into(">iihh", fixed, 0, 0, 0, account["order"], 0)
        struct.pack_into(">h", fixed, 28, self.games_played.get(player, 0))
        orders = {a["order"] for a in self.accounts.values() if a["order"]}
        struct.pack_into(">II", fixed, 28 + 48 * NUMBER_OF_SCORE_DATUMS, len(self.accounts), len(orders))
        order_name = b"Order %d" % account["order"] if account["order"] else b""
        description = self.descriptions.get(name, b"\0\0\0\0")
        return bytes(fixed) + name + b"\0" + name + b"\0" + order_name + b"\0" + description

    # --- Broken frames for the client's tests -------------------------------

    def maybe_send_malformed(self, connection):
        if self.malformed_pending and self.options.malformed_phase == "room":
            self.malformed_pending -= 1
            self.after(self.options.malformed_delay, lambda: self.send_malformed(connection, self.options.malformed))

    def send_malformed(self, connection, kind):
        if connection.closed:
            return
        self.say("malformed %s to %s" % (kind, connection.who()))
        if kind in ("length0", "length3", "length200000"):
            length = {"length0": 0, "length3": 3, "length200000": 200000}[kind]
            connection.send_raw(HEADER.pack(IDENTIFIER, MESSAGE_OF_THE_DAY, length) + bytes(64))
        elif kind == "bad-identifier":
            connection.send(MESSAGE_OF_THE_DAY, b"hello\0", identifier=0xBEEF)
        elif kind == "bad-check-block":
            connection.send(MESSAGE_OF_THE_DAY, b"hello\0", check_block_1=bytes(8))
        elif kind == "member-count":
            connection.send(ORDER_MEMBER_LIST, struct.pack(">i", 10000) + bytes(24))
        elif kind == "entries-past-end":
            connection.send(PLAYER_LIST, PLAYER_AUX.pack(ADD, 0, 0, 77, connection.room or 0, 0, 500, 0, 0) + bytes(40))
        elif kind == "short-info":
            connection.send(PLAYER_INFO, bytes(4000))
        elif kind == "unterminated":
            connection.send(SERVER_MESSAGE, struct.pack(">i", SYNTAX_ERROR) + b"x" * 40)
        elif kind == "unknown-type":
            connection.send(11, bytes(4))

    # --- Standard input and the loop ----------------------------------------

    def command(self, line):
        words = line.split()
        if not words:
            return
        if words[0] == "quit":
            self.running = False
        elif words[0] == "drop-room" and len(words) == 2 and words[1].isdigit():
            for connection in self.in_room(int(words[1])):
                connection.close("room %s went down" % words[1])
        elif words[0] == "keepalive":
            for connection in [c for c in self.connections if c.key is not None]:
                connection.send_keepalive()
        elif words[0] == "malformed" and len(words) == 2 and words[1] in MALFORMED_KINDS:
            for connection in [c for c in self.connections if c.key is not None]:
                self.send_malformed(connection, words[1])
        elif words[0] == "message" and len(words) >= 2 and words[1].lstrip("-").isdigit():
            for connection in [c for c in self.connections if c.key is not None]:
                connection.message(int(words[1]), " ".join(words[2:]))
        else:
            self.say("unknown command %r" % line)

    def run(self):
        self.say("login %d" % self.login_listener.getsockname()[1])
        for room in sorted(self.room_listeners):
            self.say("room %d %d" % (room, self.room_port(room)))
        self.say("ready")
        try:
            self.selector.register(sys.stdin, selectors.EVENT_READ, ("stdin", None))
        except (ValueError, OSError):
            pass  # standard input that cannot be polled (a file, /dev/null): no commands
        pending = b""
        deadline = time.monotonic() + self.options.seconds
        while self.running and time.monotonic() < deadline:
            now = time.monotonic()
            wait = min([deadline - now, 0.2] + [when - now for when, _ in self.timers])
            for key, events in self.selector.select(max(0.0, wait)):
                role, subject = key.data
                if role == "listener":
                    self.accept(key.fileobj, subject)
                elif role == "stdin":
                    chunk = os.read(sys.stdin.fileno(), 4096)
                    if not chunk:
                        self.selector.unregister(sys.stdin)
                        continue
                    pending += chunk
                    *lines, pending = pending.split(b"\n")
                    for line in lines:
                        self.command(line.decode(errors="replace"))
                elif not subject.closed:
                    if events & selectors.EVENT_READ:
                        subject.receive()
                    if events & selectors.EVENT_WRITE and not subject.closed:
                        subject.flush()
            now = time.monotonic()
            due = [t for t in self.timers if t[0] <= now]
            self.timers = [t for t in self.timers if t[0] > now]
            for _, procedure in due:
                procedure()
            for connection in list(self.connections):
                if now - connection.last_heard > self.options.idle_seconds:
                    connection.close("silent for %d s" % self.options.idle_seconds)
                elif (self.options.keepalive_ms and connection.key is not None
                      and now - connection.last_sent > self.options.keepalive_ms / 1000.0):
                    connection.send_keepalive()
        self.say("stopped")

    def accept(self, listener, room):
        try:
            sock, _ = listener.accept()
            sock.setblocking(False)
            sock.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
            connection = Connection(self, sock, room)
        except OSError as error:  # gone before it was taken
            self.say("refused connection: %s" % error.strerror)
            return
        self.connections.add(connection)
        self.selector.register(sock, selectors.EVENT_READ, ("connection", connection))
        self.say("connect %s %s" % ("login" if room is None else "room %d" % room, connection.name))


def room_and_number(text):
    room, _, number = text.partition(":")
    return int(room), int(number)


def parse_options(arguments):
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0], fromfile_prefix_chars="@",
                                     epilog=COMMANDS, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--port", type=int, default=6321, help="the login port on 127.0.0.1 (0: any free port)")
    parser.add_argument("--rooms", type=int, default=2, help="rooms 0..N-1, each on its own port (1..128)")
    parser.add_argument("--account", action="append", metavar="NAME:PASSWORD[:ID[:ORDER]]",
                        help="an account (repeatable; default alice:wonderland and bob:builder)")
    parser.add_argument("--locked", action="append", metavar="NAME", help="an account that is locked (code 14)")
    parser.add_argument("--guests", action="store_true", help="accept guest logins (the name 'Guest')")
    parser.add_argument("--guest-password", default="guest", help="the guests' password (default 'guest')")
    parser.add_argument("--authentication", type=int, default=2, metavar="TYPE",
                        help="the challenge's type: 0 plain, 1 simple, 2 MD5 (others: not supported)")
    parser.add_argument("--salt", metavar="HEX", help="a fixed 16-byte salt instead of a random one")
    parser.add_argument("--login-message", type=int, choices=LOGIN_FAILURE_CODES, metavar="CODE",
                        help="refuse every good login with this server message code")
    parser.add_argument("--full-room", type=int, action="append", default=[], metavar="ROOM",
                        help="a room that answers every room login with 'room full' (13)")
    parser.add_argument("--mute-room", type=int, action="append", default=[], metavar="ROOM",
                        help="takes the key and the room login there and never answers the login")
    parser.add_argument("--silent-room", type=int, action="append", default=[], metavar="ROOM",
                        help="a room whose session key never comes")
    parser.add_argument("--room-message", type=room_and_number, action="append", default=[], metavar="ROOM:CODE",
                        help="a room that refuses room logins with CODE (6, 12, 14 or 15)")
    parser.add_argument("--drop-room", type=room_and_number, action="append", default=[], metavar="ROOM:MS",
                        help="close each client's connection to ROOM MS milliseconds after it entered")
    parser.add_argument("--hold-room-logins", type=int, default=1, metavar="N",
                        help="hold room logins until N clients wait in one room, then take them together")
    parser.add_argument("--malformed", choices=MALFORMED_KINDS, help="send one broken frame (see README)")
    parser.add_argument("--malformed-phase", choices=("login", "room"), default="room",
                        help="instead of the challenge, or after the player data in a room")
    parser.add_argument("--malformed-delay", type=int, default=300, metavar="MS")
    parser.add_argument("--malformed-count", type=int, default=1, help="to this many connections, then none")
    parser.add_argument("--test-games", type=int, default=2, choices=(0, 1, 2), help="games listed in each room")
    parser.add_argument("--room-flags", type=room_and_number, action="append", default=[], metavar="ROOM:FLAGS",
                        help="list ROOM with these flags (3: recording streams supported and required)")
    parser.add_argument("--room-type", type=room_and_number, action="append", default=[], metavar="ROOM:TYPE",
                        help="list ROOM with this type (0 unranked, 1 ranked, 2 tournament)")
    parser.add_argument("--other-data", action="store_true",
                        help="list the games clients host with another foundation checksum (as hosted on other data)")
    parser.add_argument("--buddy-lists", action="store_true",
                        help="send the buddy list (and an order's members) after each room login")
    parser.add_argument("--no-versions", dest="versions", action="store_false",
                        help="do not ask for versions after a room login")
    parser.add_argument("--keepalive-ms", type=int, default=0,
                        help="send a keepalive after this long without sending (0: only answer them)")
    parser.add_argument("--idle-seconds", type=float, default=600.0, help="drop a client silent this long")
    parser.add_argument("--seconds", type=float, default=600.0, help="stop after this long")
    options = parser.parse_args(arguments)
    if not 1 <= options.rooms <= 128:
        parser.error("--rooms must be 1..128")
    if options.salt is not None:
        try:
            if len(bytes.fromhex(options.salt)) != 16:
                raise ValueError
        except ValueError:
            parser.error("--salt takes 32 hexadecimal digits")
    for room, code in options.room_message:
        if code not in ROOM_FAILURE_CODES:
            parser.error("--room-message codes are 6, 12, 14 or 15")
    options.room_message = dict(options.room_message)
    options.room_flags = dict(options.room_flags)
    options.room_type = dict(options.room_type)
    options.accounts = {}
    for number, text in enumerate(options.account or ["alice:wonderland", "bob:builder"]):
        fields = text.split(":") + ["", "", ""]
        try:
            options.accounts[fields[0].encode()] = {
                "password": fields[1].encode()[:15],
                "id": int(fields[2]) if fields[2] else number + 1,
                "order": int(fields[3]) if fields[3] else 0}
        except ValueError:
            parser.error("an account's id and order are numbers: %r" % text)
        if not 1 <= len(fields[0]) <= 31:
            parser.error("an account's name is 1..31 characters: %r" % text)
    return options


def main(arguments):
    options = parse_options(arguments)
    try:
        server = Server(options)
    except OSError as error:
        sys.stderr.write("vesk_test_lobby: cannot listen: %s\n" % error.strerror)
        return 1
    try:
        server.run()
    except KeyboardInterrupt:
        pass
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
