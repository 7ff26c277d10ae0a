#pragma once
// The networking library's game record and its client role.
//
// `net_game_data` is the whole state of one network game on this machine:
// its state, the procedures through which the library calls the game, the
// three client-side queues, the client's view of the game (its own id and
// the list of players) and, on the host only, the host's record
// (network_server.h).  Every machine, the host included, is a client of the
// game: the host's own player joins with the same join request and
// new-player packets as a remote one, only its packets never touch a socket
// (network_packets.h).
//
// Main thread only.  `join_game`, `delete_local_client_endpoint` and
// `net_exit` block their caller while they poll the network themselves,
// each for at most 5000 ms of `machine_tick_count`.

#include <cstdint>

#include "networking/network_constants.h"
#include "networking/network_queues.h"
#include "networking/packet_byteswap.h"
#include "uber/uber.h"

struct server_data;

enum net_state
{
    _net_down = 0,
    _net_initialized,
    _net_up,
    _net_up_but_disconnected,
    _net_coming_down,
    MAXIMUM_NET_STATES
};

enum client_state
{
    _client_idle = 0, // joined, or not joining
    _client_soliciting,
    _client_joining, // the join request is sent; waiting for the own new-player packet
    _client_deleting_player,
    _client_refused, // the host denied the join
    MAXIMUM_CLIENT_STATES
};

// The indexes of the library's texts the game supplies (`message_function`).
enum internal_network_message
{
    _attempting_to_join_index = 0,
    _user_cancelled_index,
    _timed_out_waiting_to_join_index,
    _firewall_or_net_connection_index,       // a format taking the error code
    _unable_to_open_listening_socket_index,  // a format taking the error code
    _not_enough_memory_for_server_buffers_index,
    _not_enough_memory_for_server_structures_index,
    _failure_deleting_local_client_endpoint_index,
    _failure_deleting_server_connections_index,
    _game_requires_password_index,
    _incorrect_password_index,
    INTERNAL_NETWORK_MSG_COUNT
};

// The operations the library asks of `progress_function` while it waits to
// join (the front end's progress dialog verbs of the same numbers).
enum net_progress_operation
{
    _net_progress_open = 0,  // with a text, value 0
    _net_progress_close = 3,
    _net_progress_poll = 4,
    _net_progress_set_bar = 5, // value 0 .. 256
};

enum
{
    JOIN_GAME_TIMEOUT = 5000, // milliseconds of machine_tick_count
    TICKS_BEFORE_OPENING_PROGRESS_DIALOG = 1000,
    DELETE_PLAYER_TIMEOUT = 5000,
    NET_EXIT_TIMEOUT = 5000,
    NET_DELETE_PLAYER_TIMEOUT = 5000,
    NET_PROGRESS_FULL = 256,
    MAXIMUM_PLAYER_ID = 127,
    NET_ALLOW_JOIN_REASON_SIZE = 256,
    NET_NAME_SIZE = MAXIMUM_NETWORK_PLAYER_NAME_LENGTH + 1,
    NET_PASSWORD_SIZE = MAXIMUM_NETWORK_PASSWORD_LENGTH + 1,
    NET_GAME_NAME_BUFFER_SIZE = MAXIMUM_NETWORK_GAME_NAME_LENGTH + 1,
    // The sizes of the three client queues and of each host slot's queues
    // the game asks for.
    DEFAULT_NET_QUEUE_SIZE = 16384,
};

// The game's procedures.  The application handler receives every game
// packet and every status packet, in host order; its length is the header's.
typedef void (*net_application_packet_handler)(void *packet);
// True when the user cancelled.
typedef bool (*net_progress_procedure)(int16_t operation, const char *text, int32_t value);
typedef const char *(*net_message_procedure)(int16_t index);
// The host's admission check: false refuses the joiner with the text written
// into `reason` (NET_ALLOW_JOIN_REASON_SIZE bytes).
typedef bool (*net_allow_join_procedure)(const void *player_data, int32_t data_length, char *reason);

struct net_player_data
{
    char name[NET_NAME_SIZE];
    int16_t player_id;
    // Kept zero by the library.
    int16_t packet_start_identifier;
    uint32_t packets_received_bitfield;
    uint32_t unique_id;
    int16_t waiting_count;
};

// A game as the library sees it: its players in join order.
struct net_game_description_2
{
    char name[NET_GAME_NAME_BUFFER_SIZE];
    char password[NET_PASSWORD_SIZE];
    char game_type[32];
    int16_t player_count;
    net_player_data players[MAXIMUM_NETWORK_PLAYERS];
};

struct net_game_parameters
{
    int32_t client_queue_size; // each host slot's queues
    int16_t debug_level;
    int16_t player_userdata_size; // every player's data: 1 .. NETWORK_PLAYER_DATA_SIZE
};

struct client_data
{
    int16_t local_player_id; // 0 until the host assigns one
    int16_t state;           // client_state
    char *failure_reason;    // the caller's buffer, filled when joining fails
    int32_t failure_reason_length;
    Endpoint *endpoint; // the connection to the host; none on the host
    char player_name[NET_NAME_SIZE];
    net_game_description_2 game_desc;
    // Refused packets already logged on the connection to the host, one bit
    // per reason (packet_rules.h): each is logged once per connection.
    uint32_t logged_refusals;
    uint16_t refused_packets; // refused so far (see NET_REFUSED_PACKET_LIMIT)
    // Why the host dropped this player, when it said so before closing the
    // connection (its last word); empty otherwise.
    char dropped_because[NETWORK_MESSAGE_LENGTH + 1];
    // The connection has closed: the game hears that the player left once
    // the host's last bytes are read.
    bool connection_closed;
};

struct net_game_data
{
    int16_t service_provider; // only 0
    int16_t state;            // net_state
    net_application_packet_handler application_packet_handler;
    net_packet_byteswap_procedure byteswap_function;
    net_progress_procedure progress_function; // may be null
    net_message_procedure message_function;
    net_allow_join_procedure allow_join_function; // may be null
    net_game_parameters parameters;
    circular_queue incoming_buffer; // "client incoming": from the host (wire order)
    circular_queue outgoing_buffer; // "client outgoing": to the host (wire order)
    circular_queue status_buffer;   // "client status": status packets for the game (host order)
    client_data client;
    server_data *server; // the host's record; null on a client
};

// Enters network play: the record with its three queues, the connection
// manager reset, state initialized.  Null (logged) when a provider other
// than 0, a player data size outside 1 .. NETWORK_PLAYER_DATA_SIZE, a
// missing packet handler, byte swap or message procedure, or an allocation
// failure refuses it.  The game passes 0, 16384, 16384 and 124.
net_game_data *net_enter(int16_t service_provider, int32_t incoming_queue_size, int32_t outgoing_queue_size,
                         net_application_packet_handler packet_handler,
                         net_packet_byteswap_procedure byteswap_function, int16_t player_userdata_size,
                         net_progress_procedure progress_function, net_message_procedure message_function,
                         net_allow_join_procedure allow_join_function);

// The join handshake.  On a client: opens the connection described by
// `config` and sends a join request to the host; on the host (`host`, after
// create_game): adds the host's own player.  Then waits, polling, until the
// own new-player packet arrives (true, net state up), a denial arrives, the
// user cancels the progress dialog (opened after 1000 ms) or 5000 ms pass;
// each failure writes its text into `failure_reason` (at most
// `failure_reason_length` bytes with the terminator) and closes a client's
// connection.  `data_length` must be the record's player data size.
bool join_game(net_game_data *game, ProtocolConfig *config, const char *player_name, const char *password,
               const void *player_data, int32_t data_length, char *failure_reason, int32_t failure_reason_length,
               bool host);

// Leaves the game and frees everything, the record included.
void net_exit(net_game_data *game);

// A program with a time limit of its own (the simulator's wall-clock limit)
// ends the waits for orderly closes through `cancelled` once it returns
// true: what has not closed by then is closed abortively.  Null (the
// default): each wait runs to its own bound.
void set_net_exit_cancel_check(bool (*cancelled)(void));
// True once that check says so (the library's waits ask it).
bool net_exit_cancelled(void);

// Removes a player: the local one closes this machine's connection; another
// is removed only by the host (refused, logged, on a client).  True when the
// player is gone.
bool net_delete_player(net_game_data *game, int16_t player_id);
bool drop_player_due_to_error(net_game_data *game, int16_t player_id);
// Closes the connection to the host and waits (at most 5000 ms) until it has
// closed.  True when it has (or there was none).
bool delete_local_client_endpoint(net_game_data *game);

// Sends the host a new record for `player_id` (player_userdata_size bytes).
// False when it cannot be sent.
bool net_set_player_data(net_game_data *game, int16_t player_id, const void *data);
// Sends the host new game data: refused (false, logged) above 480 bytes or
// below 0.
bool net_set_game_data(net_game_data *game, const void *data, int32_t length);

// ---- queries -----------------------------------------------------------------

int16_t net_get_player_count(const net_game_data *game);
int16_t net_get_local_player_id(const net_game_data *game);
bool net_i_am_the_server(const net_game_data *game);
// NONE (logged) for an index outside the client's list.
int16_t net_player_index_to_player_id(const net_game_data *game, int16_t player_index);
// The index of `player_id` in `description`, or NONE.
int16_t net_player_id_to_player_index(const net_game_description_2 *description, int16_t player_id);
// The player's name, or "<Unknown>" when the id is not in the client's list;
// cut to `size` - 1 characters.
void net_get_player_name(const net_game_data *game, int16_t player_id, char *name, int32_t size);
// Sets the debug level; the previous one.
int16_t net_set_debug_status(net_game_data *game, int16_t level);
// True in every net state but down and coming down; false without a game.
bool networking_active(const net_game_data *game);
// True when the endpoint layer lists at least one protocol module.
bool networking_available(void);
// The text of a library message (0 .. 10) from the game; "" out of range.
const char *get_internal_network_message(const net_game_data *game, int16_t index);
// Writes message `index` into `buffer` (at most `size` bytes with the
// terminator), its one "%s" (messages 3 and 4) given the words for the net
// module's error `code` (describe_net_module_error); an older text's one "%d"
// takes the words too, since a player cannot act on a bare number.  A text
// with any other conversion is written as it stands.  The code itself goes to
// the log.
void format_internal_network_message(const net_game_data *game, int16_t index, int32_t code, char *buffer,
                                     int32_t size);

// ---- connection policy, passed to the connection manager --------------------

void net_allow_connections(net_game_data *game, bool allow);
bool net_get_allow_connections_state(const net_game_data *game);
void net_set_maximum_players(net_game_data *game, int16_t players);
// The host's listening endpoint; null on a client or without one.
Endpoint *net_get_listener_endpoint(const net_game_data *game);

// ---- used by the host role and the routing -----------------------------------

// Puts a status packet (host order) into "client status"; a full queue drops
// the local player.
bool queue_status_packet(net_game_data *game, const void *packet);
