#pragma once
// The lobby client's connection: one TCP connection to the lobby service at a
// time (first the login host, then the host of the player's room), the key
// exchange, the per-frame pump that cuts, decodes, swaps and dispatches the
// service's packets as numbered events to one handler, the keepalive, the
// room change and the send path every outgoing packet takes.
//
// A corrupt stream (a length below 8 or beyond the receive buffer, a body
// whose decoding fails, a bad identifier, a packet shorter than its fields, a
// list that does not fit) closes the connection: the handler then sees event
// 16 (room went down) when a room was entered, else event 8 (closed).
//
// Main thread only.  The endpoint's callback runs inside the pump, inside the
// open and inside the waits of a room change; the pump runs again inside
// those waits, and handlers must keep no pointer into the packet they were
// given across a call that may pump.

#include <cstdint>

#include "cseries/system_info.h"
#include "metaserver_lib/metaserver_packets.h"

struct net_game_description;
struct new_player_data;

enum : uint32_t
{
    TICKS_BEFORE_SENDING_KEEPALIVE = 180000, // ms of silence before a keepalive
    METASERVER_ROOM_CHANGE_TIMEOUT = 5000,
    METASERVER_CLOSE_TIMEOUT = 7000,
};

enum metaserver_context_state : int16_t
{
    _metaserver_uninitialized = 0,
    _metaserver_pending_connection,
    _metaserver_connected,
    _metaserver_connection_failed_bad_user_or_password,
    _metaserver_connection_failed_bad_version,
    _metaserver_connection_failed_games_not_allowed,
    _metaserver_connection_user_cancelled,
    _metaserver_connection_failed_metaserver_not_responding,
    _metaserver_connection_no_rooms_available,
    _metaserver_connection_failed_already_logged_in,
    _metaserver_sent_player_to_a_url,
    _metaserver_room_died,
    _metaserver_connection_metaserver_moved,
    _metaserver_requires_client_update,
    _metaserver_connection_failed_account_locked,
    _metaserver_connection_failed_metaserver_not_supported,
    _metaserver_connection_closed_by_metaserver,
    _metaserver_connection_failed_guests_disallowed,
    _metaserver_connection_failed_guest_name_taken,
    NUMBER_OF_METASERVER_CONTEXT_STATES
};

// The error codes of a server message.
enum metaserver_codes
{
    _syntax_error_msg = 0,
    _login_failed_games_not_allowed,
    _login_failed_invalid_version,
    _login_failed_bad_user_or_password,
    _user_not_logged_in_msg,
    _bad_metaserver_version_msg,
    _user_already_logged_in_msg,
    _unknown_game_type_msg,
    _login_successful_msg,
    _logout_successful_msg,
    _player_not_in_room_msg,
    _game_already_exists_msg,
    _account_already_logged_in,
    _room_full_msg,
    _metaserver_account_locked_msg,
    _metaserver_not_supported,
    _login_failed_guests_disallowed,
    _login_failed_guest_name_taken,
};

// The events the pump raises, with their data and length (see each).
enum metaserver_client_message
{
    _connection_established = 0, // none
    _connection_refused_bad_version,
    _connection_refused_game_not_allowed,
    _connection_refused_bad_user_or_password,
    _connection_refused_already_logged_in,
    _connection_refused_room_full,
    _connection_refused_account_locked,
    _connection_refused_metaserver_not_supported,
    _connection_closed_by_metaserver,
    _connection_refused_guests_disallowed,
    _connection_refused_guest_name_taken,
    _metaserver_requires_url, // 11-13, 15, 26: never raised by the pump
    _metaserver_requests_url,
    _metaserver_requests_url_at_exit,
    _data_chunk_message,
    _metaserver_moved,
    _metaserver_room_went_down,
    _broadcast_message, // the body, length - 8
    _directed_message, // the body after the target and second word, length - 16
    _player_list_message, // the packet (host order) and its length, from here to 22
    _room_list_message,
    _game_list_message,
    _set_player_data_message,
    _set_player_room_id_message, // the body, length - 8
    _unknown_text_message, // the message text and its length
    _message_of_the_day_message, // the body, length - 8
    _patch_message,
    _metaserver_awaiting_versions_message, // none
    _game_list_pref_message, // packet and length, 28 to 33 and 35
    _player_search_message,
    _buddy_list_message,
    _order_list_message,
    _player_info_message,
    _update_info_message,
    _update_player_buddy_list_message, // the body, 0
    _update_order_member_list_message,
    _you_just_got_drunmed_sucka_message, // the body, 0
    _proxy_client_join_message, // the body, 0
    NUMBER_OF_METASERVER_CLIENT_MESSAGES
};

typedef void (*metaserver_handler_procedure)(int32_t event, void *data, int32_t length, void *context);

enum : int16_t
{
    METASERVER_GAME_DATA_SIZE = 712, // a net_game_description
};

enum
{
    _change_player_data_on_login_flag = 1,
};

// What the game hands the lobby client (memory only).
struct metaserver_login_data
{
    char application[32];
    int16_t platform_type;
    int16_t default_room_id;
    char user[32];
    char password[16];
    char build_date[32];
    char build_time[32];
    int16_t major_version, minor_version;
    int16_t game_data_size;
    int32_t flags;
    int32_t user_id;
    uint8_t player_data[MAXIMUM_METASERVER_PLAYER_DATA_SIZE];
    int16_t player_data_size;
    int16_t country_code;
};

// The lobby session as the game sees it (one global, kept by the lobby dialog module).
struct metaserver_context_data
{
    int16_t state; // metaserver_context_state
    net_game_description *game_description;
    new_player_data *player;
    uint32_t local_player_id;
    int16_t local_player_caste;
    int16_t desired_room;
    bool disabled_local_folder_on_login;
};

// Opens the connection to `host`:`port` and sends the session key: true when
// connected.  `context` (not null) is handed to `handler` with every event;
// the pump does nothing without it.
bool start_metaserver_connection(const char *host, uint16_t port, metaserver_handler_procedure handler,
                                 const metaserver_login_data *login, void *context);
// Moves to the room at `host` (0: the login host) and `port`: true when the
// room accepted the login.  Waits (5000 ms for each step) inside.  Refused
// without a login token or while another room change runs.
// Its waits also end, at once, when `cancel` (null: none) answers true; the
// change then fails as cancelled.
bool change_to_room(int32_t host, int16_t port, bool (*cancel)(void));
bool metaserver_room_change_in_progress(void);
// The last room change failed because it was cancelled (by its `cancel` or
// the wait dialog's Cancel), not because the room refused or did not answer.
bool metaserver_room_change_was_cancelled(void);
// The pump, once per pass of the main loop.
void update_metaserver(void);
void close_metaserver_connection(void);
// Closes and frees everything; the pump is idle afterwards.
void disconnect_from_metaserver(void);

bool metaserver_endpoint_died(void);
bool metaserver_session_key_received(void);
bool metaserver_room_change_complete(void);
bool metaserver_connected_to_room(void);
int32_t get_metaserver_user_id(void);
// The user id the service stamped on the directed data of the current
// directed-message event (its payload's own claims are the sender's word);
// the dispatch notes it before it raises the event.
uint32_t get_metaserver_directed_data_sender(void);
void note_metaserver_directed_data_sender(uint32_t sender);
int16_t get_metaserver_order_id(void);

// Senders: they do nothing while not connected.
void request_full_update_from_metaserver(void);
// Also keeps the data as the login's player data (at most 128 bytes).
void change_player_data(const void *data, int32_t length);
void room_broadcast_data(const void *data, int32_t length);
void send_message_to_player(uint32_t player_id, int32_t second_word, const void *data, int32_t length);
// Platform 300, version 2182, `patch_version`, build 443.
void send_version_data_to_metaserver(int32_t patch_version);
// The send path for the lobby's other senders: a packet is built (host order)
// into the buffer (METASERVER_LINEAR_BUFFER_SIZE bytes; null while not
// connected) and its `length` bytes sent (a length of 0, a refused build,
// sends nothing).
uint8_t *get_metaserver_packet_buffer(void);
void send_metaserver_packet(int32_t length);

// The lists' queries and the player's own information; nothing is sent
// while not connected.  The search text and the four information texts are
// cut to what their packets hold.
void send_buddy_query(void);
void send_order_query(void);
void send_update_buddy(int32_t player_id, bool add);
void send_player_search_query(const char *text);
void send_player_info_query(int32_t player_id);
void send_player_info_update(const char *city, const char *state, const char *country, const char *personal);

enum
{
    MAXIMUM_BUDDIES = 16,
};
// buddy_entry.active
enum buddy_state : uint8_t
{
    _buddy_inactive = 0,
    _buddy_unacknowledged,
    _buddy_active,
    _buddy_offline,
};

// The user's 16 buddies (player_id -1: an empty entry).
const buddy_entry *get_player_buddy_list(void);
// Copies all 16.
void set_player_buddy_list(const buddy_entry *list);
// The state of the first buddy entry of the player; 0 when none.
char metaserver_player_buddy_status(int32_t player_id);
// The order's members and their count (0..50).
const order_member *get_order_member_list(int16_t *count);
// Keeps `count` members, clamped to 0..50; the entries after them are zeroed.
void set_player_order_list(int32_t count, const order_member *members);

// "%d.%d.%d.%d" of `address` (first octet in the high byte) into 16 bytes.
void InetNToA(uint32_t address, char text[16]);
// The address a room change connects to: the room's when `host` is not 0,
// else the login host's name.
void metaserver_room_host_text(int32_t host, const char *login_host, char *text, int32_t size);

// The fuzzer's entry: reads `bytes` as if received on a connection whose
// session key is `key` (null: before the exchange), dispatching every packet
// to `handler`; nothing is sent.  Never called by the game.
void read_metaserver_stream_for_fuzzing(const void *bytes, int32_t size, const uint8_t *key,
                                        metaserver_handler_procedure handler);

// Whether the power user allows answering a plaintext password challenge
// ("Net.Lobby", "AllowPlaintextPassword"; off unless set).
bool metaserver_plaintext_password_allowed(void);
