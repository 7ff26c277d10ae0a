#pragma once
// The host role of the networking library: the authoritative player list,
// player ids, the admission of joiners, every player's data and the game
// data, the announcements and the removal of players.  The host holds one
// slot per connection with the connection's own pair of queues; its own
// player has a slot without a connection.
//
// Main thread only.

#include <cstdint>

#include "vesk_networking/network.h"

enum
{
    _server_player_logged_in_flag_bit = 0, // its join request was accepted
    // A remote player's record is announced to everybody at most once in
    // this time: a change within it waits, and only the last one goes.
    NET_PLAYER_DATA_ANNOUNCE_MS = 100,
};

// One player's slot on the host.
struct server_net_player_data
{
    int16_t player_id; // NONE: a free slot
    uint16_t flags;    // _server_player_logged_in_flag_bit
    Endpoint *endpoint; // none for the host's own player
    uint8_t player_data[NETWORK_PLAYER_DATA_SIZE]; // the first player_userdata_size are used
    circular_queue incoming_buffer; // "s incoming %d": wire order, from the player
    circular_queue outgoing_buffer; // "s outgoing %d": wire order, to the player
    // Refused packets already logged for this connection, one bit per reason.
    uint32_t logged_refusals;
    uint16_t refused_packets; // refused so far (see NET_REFUSED_PACKET_LIMIT)
    // Its record's last announcement (see NET_PLAYER_DATA_ANNOUNCE_MS), and
    // whether a change waits for the next.
    bool announced, announcement_due;
    uint32_t announced_ms;
};

struct server_data
{
    bool advertising;
    bool listening_endpoint_valid;
    Endpoint *listening_endpoint;
    uint8_t game_data[MAXIMUM_USER_GAME_DATA_SIZE];
    int16_t game_data_length; // 0: none yet
    int16_t next_player_id;   // where the search for a free id starts
    net_game_description_2 game_desc; // the players in join order; the game's password
    server_net_player_data server_players[MAXIMUM_NETWORK_PLAYERS];
};

// Makes this machine the host: the host record, its 16 slots with their
// queues and the listening connection described by `config`.  The host's own
// player is added afterwards by join_game (with its host flag).  False, with
// the reason in `failure_reason`, when memory or the listener fails.
bool create_game(net_game_data *game, ProtocolConfig *config, const char *password, bool advertise,
                 char *failure_reason, int32_t failure_reason_length);

// Frees the host record and its slots' queues (net_exit).
void free_server_data(net_game_data *game);

// The next free id: 0 the first time, then 1 .. 127 in turn (127 wraps to
// 1), skipping ids in use.
int16_t get_next_player_id(net_game_data *game);
// Appends a player (not logged in, zero data) and takes the first free slot,
// emptying both its queues.  The player's index, or NONE (logged) when all
// 16 slots are taken.
int16_t add_player_to_topology(net_game_data *game, const char *name, Endpoint *endpoint, int16_t player_id);
// Removes a player, keeping the order of the rest, and frees its slot; with
// `send_delete` every remaining player hears of it if it had logged in.
void remove_player_from_topology(net_game_data *game, int16_t player_id, bool send_delete);

// The host's handlers of library packets (host order; `from` is the
// sender's slot id).  Each returns false: the pass over the queue goes on.
bool handle_join_request_packet(net_game_data *game, void *packet, int32_t length);
bool handle_player_data_changed_packet(net_game_data *game, void *packet, int32_t length);
bool handle_game_data_changed_packet(net_game_data *game, void *packet, int32_t length);
// The host: announces the records whose changes waited long enough.
void announce_due_player_data(net_game_data *game);

// Senders (as host: `from` 254).  Indexes are into the host's player list.
bool send_game_data_packet(net_game_data *game, int16_t player_index);
bool send_new_player_packet(net_game_data *game, int16_t to_index, int16_t about_index);
bool send_join_request_denied(net_game_data *game, int16_t player_index, const char *text, int32_t error);
bool send_server_deleted_player_packet(net_game_data *game, int16_t to_index, int16_t player_id);

// Removes a player from the game: empties its queues, closes its connection
// and waits (at most 5000 ms) until it has left.  True when it has (or it was
// not there).
bool server_delete_player_from_game(net_game_data *game, int16_t player_id);
// Empties the slot's queues.
void server_delete_player(net_game_data *game, int16_t slot_index);
// Closes the listener and every player's connection, waiting for each.
// True when nothing is left.
bool delete_server_connections(net_game_data *game);

// The game's password (cut to 31 characters); empty: none.
void net_set_game_password(net_game_data *game, const char *password);
// Free bytes in the player's outgoing queue; 0 for a player without a slot.
int32_t net_get_player_client_outgoing_buffer_free_size(const net_game_data *game, int16_t player_id);

// The slot holding `player_id`, or NONE.
int16_t server_player_id_to_server_players_index(const net_game_data *game, int16_t player_id);
