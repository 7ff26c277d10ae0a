#pragma once
// Moving packets between the game, the queues and the connections.  Sending
// never touches a socket: a packet is converted to wire order and appended
// to a queue.  Once per frame `net_process` takes the whole packets out of
// the incoming queues, checks each against the packet rules
// (packet_rules.h) before converting anything, routes on the host what is
// meant for others, hands the rest to the library's handlers or to the game,
// then pushes the outgoing queues into the connections and lets the
// connections poll their sockets.
//
// Main thread only.

#include <cstdint>

#include "networking/packet_definitions.h"
#include "vesk_networking/network.h"

// `net_send` flags: accepted, without effect.
enum : uint32_t
{
    kSendToSelf = 1,
    kSendGuaranteed = 2,
};

// A library packet's handler: the packet in host order and its length.  True
// ends the current pass over the queue (the rest waits for the next frame).
typedef bool (*net_library_packet_handler)(net_game_data *game, void *packet, int32_t length);

// Indexed by library type: 0-2 the host's (return false), 3-7 the client's
// (return true).
extern const net_library_packet_handler packet_handlers[NUMBER_OF_LIBRARY_PACKET_TYPES];

// The game's send: `from` = the local player id.  The packet (host order,
// `messageLen` 8 .. 4096) is left in wire order.  False when it was refused or
// could not be queued.
bool net_send(net_game_data *game, void *packet, uint32_t flags);
// The library's send: `from` = 254 with `as_host`, else the local player id.
bool net_send_private(net_game_data *game, void *packet, uint32_t flags, bool as_host);

// The per-frame poll (also called inside every wait of the library).
void net_process(net_game_data *game);

// The game's word on whether a client can take another packet now: false
// while a game catching up holds all the commands it can.  The client's
// incoming queue then waits for a later pass, its connection reads no more
// and the system holds the host back, so nothing is lost.  Null (the
// default): a client always takes them.
void set_net_client_room_check(bool (*has_room)(void));

// The game's word on whether the host may relay a packet of `length` bytes
// that player `from` sent to everybody or to another player: true when it
// fits that player's share (and is then counted against it).  Null (the
// default): everything is relayed.
void set_net_relay_share_check(bool (*share_takes)(int32_t from, int32_t length));

// The game's word on whether the players would heed a game packet of type
// `what` that one of them sends another now (a chat packet only while the
// game is set up): what nobody heeds is not relayed, so it costs no link
// anything.  Null (the default): everything is heeded.
void set_net_relay_heeded_check(bool (*heeded)(uint16_t what));

enum : int32_t
{
    // A relay waits behind at most this much of a receiver's stream: more
    // unsent (its outgoing queue and the system's buffer together) and the
    // receiver's link is behind, and what another player sends it is
    // refused rather than put before the game's own packets.
    NET_RELAY_BACKLOG_LIMIT = 2048,
};
// The host: whether the link to `player_id` (for kSendToAllPlayers, to any
// remote player) is behind.  The host's own player's never is.
bool net_player_link_is_behind(net_game_data *game, int32_t player_id);
// The host: every remote player's link has sent all it was given (its
// outgoing queue and the system's buffer are empty).
bool net_links_drained(net_game_data *game);

// True while net_process runs (a handler or a drop inside it): waits that
// would poll the network again return at once instead.
bool net_process_is_running(void);

// The host, about to drop `player_id`: sends it `why` (worded for the
// player, e.g. "Nothing heard from it for 30 seconds.") as the host's last
// word, pushed into its connection as far as the connection takes it at
// once.  Nothing for the host's own player or one without a connection.
void net_tell_player_why_it_is_dropped(net_game_data *game, int16_t player_id, const char *why);

// A failed send to `player_id`: drops that player on the host, the local
// player on a client.
void handle_send_packet_err(net_game_data *game, int16_t player_id, int32_t error);
// Pushes a queue's bytes into a connection (as much as it takes this frame).
// False when the connection failed: the player has been dropped.
bool send_outgoing_queue(net_game_data *game, circular_queue *queue, Endpoint *endpoint, int16_t player_id);
