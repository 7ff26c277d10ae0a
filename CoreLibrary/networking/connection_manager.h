#pragma once
// The connection manager: joins the networking library's host and client
// roles to the endpoint layer.  It opens the host's listener and a client's
// connection to the host, admits or refuses incoming connections, keeps one
// context per connection, pours each connection's received bytes into that
// connection's incoming queue, hands queued bytes to the endpoints, gives the
// endpoints their idle time and turns a finished close into a player's
// removal.  It also builds the configuration text that reaches a host by
// address.
//
// The roles' game record lies above the transport, so the manager holds it as
// an opaque pointer and asks about it through one table of procedures the
// roles register (`register_connection_manager_game_procedures`).
//
// Connection modes: a host's listener and the connections to it must agree.
// Games on the local network listen and connect in mode 3 (the module's
// defaults: the listener answers discovery queries on its datagram socket);
// lobby games, their joiners and the proxy connect-out use mode 2, as
// `create_config_for_internet` gives (docs/network.md, "Modes of each flow").
//
// Main thread only; every callback runs inside `idle_endpoints`, or inside a
// blocking open.

#include <cstdint>

#include "networking/network_constants.h"
#include "networking/network_queues.h"
#include "uber/uber.h"

enum : uint16_t
{
    _context_used_flag = 1,
    _context_closing_flag = 2,
    _context_closed_flag = 4,
};

// `open_connection` flags.
enum : uint32_t
{
    kOpenListen = 1,
    // An outgoing connection that is at once a player on the host (the
    // lobby's proxy connect-out): a new player with an empty name.
    kOpenAddToTopology = 2,
};

enum : int32_t
{
    MAXIMUM_CLIENT_CONTEXTS = MAXIMUM_NETWORK_PLAYERS,
    // open_connection's error when every context allowed is in use.
    CONNECTION_MANAGER_FULL_ERROR = -1,
};

// One connection: a host's accepted connection or a client's connection to
// the host.  In memory only.
struct client_context_data
{
    uint16_t flags;
    int16_t player_id; // the connection's player on the host; NONE until known
    void *game;        // the roles' game record
    Endpoint *endpoint;
    uint32_t opened_ms; // machine_tick_count when the connection was opened or accepted
    uint32_t heard_ms;  // ... when the peer's bytes last arrived (the opening counts)
};

// What the manager asks of the game record of the roles above the transport.
// Every member is needed once a game is opened; a null member is logged
// ("halt") and answers as a machine with no player for the connection.
struct connection_manager_game_procedures
{
    // True when `game` is the host's.
    bool (*is_host)(void *game);
    // The host's listening endpoint while it is valid, else null.
    Endpoint *(*listening_endpoint)(void *game);
    // The host's listener has closed: forget it and its valid flag.
    void (*listening_endpoint_closed)(void *game);
    // The host: a new player, not logged in, with an empty name, `endpoint`
    // and the next free id.  Its id, or NONE when no player could be added.
    int16_t (*add_remote_player)(void *game, Endpoint *endpoint);
    // The host: the id of the player whose slot holds `endpoint`, or NONE.
    int16_t (*player_id_of_endpoint)(void *game, Endpoint *endpoint);
    // Where a connection's received bytes go: on the host the incoming queue
    // of player `player_id`'s slot, on a client its one incoming queue.
    // Null when there is none.
    circular_queue *(*incoming_queue)(void *game, int16_t player_id);
    // The host: the connection of `player_id` has closed: remove the player,
    // telling the others when `send_delete` is set.
    void (*remove_player)(void *game, int16_t player_id, bool send_delete);
    // A client: its connection to the host has closed: forget the endpoint,
    // no players, and tell the game that the local player left.  False
    // (nothing changed) when `endpoint` is not the game's connection.
    bool (*client_connection_closed)(void *game, Endpoint *endpoint);
    // The host: whether `player_id`'s join request was accepted.
    bool (*player_has_joined)(void *game, int16_t player_id);
    // The host, about to drop `player_id` (its connection closes next):
    // tells the player `why`, worded for it.  Optional: null, the player is
    // dropped without a word.
    void (*tell_dropped_player)(void *game, int16_t player_id, const char *why);
};

// The roles' table, kept by pointer (a static record).  Refused (assertion,
// the first kept) for null or a second table.
bool register_connection_manager_game_procedures(const connection_manager_game_procedures *procedures);
// The registered table; never null: until one is registered, every member is null.
const connection_manager_game_procedures *get_connection_manager_game_procedures(void);

// No contexts in use, at most 16, connections not allowed, no deletion
// notices.  On entering a network game.
void initialize_connection_manager(void);

void set_allow_connection_status(bool allow);
bool allow_connection_status(void);
void set_send_delete_packets(bool send);
// At most `players` - 1 joined connections (a host's own player needs
// none), 15 above 16 players and none below 2.  Connections that have not
// joined yet never count against this limit: when every context is taken,
// the oldest of them makes room for a newcomer, and each has
// UNJOINED_CONNECTION_LIMIT_MS to be accepted before it is closed.  A game
// whose roles tell joins apart (player_has_joined) has every connection
// accepted, also past the limit or while connections are not allowed: the
// roles deny its join with their reason.  Other games' are reset then.
void set_game_maximum_players(int32_t players);
// The host: whether one more player may join (joined connections are below
// the limit).
bool connection_manager_has_room_for_a_player(void);
// The host: whether the connection `endpoint` may join now.  Joins from one
// address are limited to JOINS_PER_ADDRESS_PER_SECOND on average, after a
// burst of a whole game's players: a peer joining and leaving in a loop is
// refused (logged once, then counted) and cannot flood the others with
// announcements; its credit is whole again 1.6 seconds after it stops.  All
// addresses together are held the same way to JOINS_PER_SECOND_FOR_EVERYBODY.
// A newcomer's join (its address's network, the first 24 bits, has had no
// join let in for 10 seconds: refused tries do not count) is let in beyond
// that, from a reserve of its own (a burst of a whole game, then
// JOINS_PER_SECOND_FOR_NEWCOMERS): a newcomer gets in at once whatever the
// addresses of other networks do, however many they are.  So is, from a
// third reserve (JOINS_PER_SECOND_FOR_FRESH_ADDRESSES), the join of an
// address not let in for 30 seconds, though its network floods: the players
// of a LAN party get in beside a flood from their neighbours' addresses,
// which are let in again and again.  All of them together stay within the
// three rates.  The result says which bound refused the join.
enum connection_manager_join_refusal : int32_t
{
    _join_allowed,
    _join_refused_for_its_address, // its address joins too often
    _join_refused_for_everybody,   // all addresses together join too often
};
connection_manager_join_refusal connection_manager_join_refusal_of(Endpoint *endpoint);
enum : int32_t
{
    JOINS_PER_ADDRESS_PER_SECOND = 10,
    JOINS_PER_SECOND_FOR_EVERYBODY = 20,
    JOINS_PER_SECOND_FOR_NEWCOMERS = 4,
    JOINS_PER_SECOND_FOR_FRESH_ADDRESSES = 4,
};

// `kOpenListen`: the host's listener (connections are allowed from then on).
// Else a connection to the host described by `config`, blocking like
// ProtocolOpenEndpoint; with `kOpenAddToTopology` it becomes a player on the
// host at once.  The endpoint, or null with `*error` (when given) the
// endpoint layer's or the module's error, or CONNECTION_MANAGER_FULL_ERROR
// when every allowed context is in use.  `*error` is 0 on success.
Endpoint *open_connection(void *game, ProtocolConfig *config, uint32_t flags, NMErr *error);

// Closes a connection or the listener, orderly or abortively; the context
// is marked closing and freed when the close completes (inside this call).
// A dead endpoint is only logged.
void close_connection(Endpoint *endpoint, bool orderly);

// Hands up to `length` bytes to the connection.  The bytes taken (0 to
// `length`: 0 also for an endpoint held by no open context, e.g. one that is
// closing) or a negative error; the caller drops the player on an error.
int32_t send_packet(Endpoint *endpoint, const void *data, uint32_t length, uint32_t flags);

// The bytes `endpoint` has taken but its peer has not yet received (the
// system's send buffer); 0 for an endpoint that cannot tell.
int32_t connection_unsent_bytes(Endpoint *endpoint);

// Gives the host's listener (when `game` is the host's) and every open
// connection their idle time: one poll of the module, which serves all its
// endpoints.  Received bytes reach the incoming queues here, as much as each
// queue has room for: the rest waits in the system (a full queue pauses the
// reading, it ends nothing).  Then the time limits: on the host a
// connection not joined within UNJOINED_CONNECTION_LIMIT_MS, or a player
// silent for net_silence_limit_ms(), is closed (the player removed as when
// its connection breaks); a client silent host likewise ends the client's
// connection, as when the host is gone.
void idle_endpoints(void *game);

// True when the client's last connection to a host ended because the host
// fell silent; false again once another connection opens.
bool connection_to_host_fell_silent(void);

// The name (cut to `name_size` - 1 characters) and type of net module `index`.
// False past the last module (and, logged, on any other failure).
bool net_get_indexed_protocol_name(int32_t index, char *name, int32_t name_size, NMType *type);

// A mode 2 configuration reaching `address` (IPv4, host order: most
// significant byte first in the text) at `port`, for the game `game_name`.
// Null, logged, when the module refuses it or the name holds a TAB.
ProtocolConfig *create_config_for_internet(NMType protocol_type, const char *game_name, uint32_t address,
                                           uint16_t port);

// For tests and the probe: the contexts in use.
int32_t connection_manager_used_context_count(void);
