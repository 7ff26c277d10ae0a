#pragma once
// The lobby service's packets: the 8-byte header, the packet types, the
// records inside bodies, the builders of the client's packets, the byte swap
// between host and wire order, and the cutter that takes whole packets out of
// the receive stream.  Everything on the wire is big-endian; texts and byte
// arrays travel as they are.  docs/lobby.md is the page a service or test
// server implementer reads.
//
// Builders write host order into a buffer of `capacity` bytes and return the
// packet's length, or 0 when it does not fit or an argument is refused.
// Main thread only.

#include <cstddef>
#include <cstdint>

struct circular_queue;
struct draxil_net_game_standings;

constexpr uint16_t PACKET_IDENTIFIER = 0xDEAD;
constexpr int16_t METASERVER_PACKET_VERSION = 1;
constexpr int32_t METASERVER_PACKET_HEADER_SIZE = 8;
// The client's linear send and receive buffers; no packet is longer.
constexpr int32_t METASERVER_LINEAR_BUFFER_SIZE = 131072;
constexpr int32_t MAXIMUM_METASERVER_GAME_DATA_SIZE = 1024;
constexpr int32_t MAXIMUM_METASERVER_PLAYER_DATA_SIZE = 128;
constexpr int32_t MAXIMUM_METASERVER_USERNAME = 31;
constexpr int32_t MAXIMUM_METASERVER_PASSWORD = 15;
constexpr int32_t MAXIMUM_HANDOFF_TOKEN_SIZE = 32;
constexpr int32_t MAXIMUM_METASERVER_GAME_PLAYERS = 16;
constexpr int32_t MAXIMUM_ORDER_MEMBERS = 50;
constexpr int32_t NUMBER_OF_SCORE_DATUMS = 36;
constexpr int32_t UPDATE_PLAYER_INFORMATION_STRINGS_SIZE = 433; // the four strings with their terminators

enum
{
    FIRST_CLIENT_PACKET_ID = 100,
    FIRST_BOTH_PACKET_ID = 200,
    NUMBER_OF_METASERVER_PACKETS = 207,
};

enum metaserver_packet_type
{
    _room_list_packet = 0,
    _player_list_packet,
    _game_list_packet,
    _server_message_packet,
    _url_packet,
    _data_chunk_packet,
    _password_challenge_packet,
    _user_successful_login_packet,
    _set_player_data_from_metaserver_packet,
    _room_login_successful_packet,
    _message_of_the_day_packet,
    _unused_packet0,
    _send_versions_packet,
    _game_list_pref_packet,
    _player_search_list_packet,
    _buddy_list_packet,
    _order_list_packet,
    _player_info_packet,
    _update_info_packet,
    _update_player_buddy_list_packet,
    _update_order_member_list_packet,
    _you_just_got_drunmed_sucka_packet,
    _proxy_client_join_packet,

    _login_packet = FIRST_CLIENT_PACKET_ID,
    _room_login_packet,
    _logout_packet,
    _set_player_data_packet,
    _create_game_packet,
    _remove_game_packet,
    _change_room_packet,
    _set_player_mode_packet,
    _data_chunk_reply_packet,
    _password_response_packet,
    _request_full_update_packet,
    _game_player_list_packet,
    _game_score_packet,
    _reset_game_packet,
    _start_game_packet,
    _version_control_packet,
    _game_search_query_packet,
    _player_search_query_packet,
    _buddy_query_packet,
    _order_query_packet,
    _update_buddy_packet,
    _player_info_query_packet,
    _update_player_information_packet,

    _room_broadcast_packet = FIRST_BOTH_PACKET_ID,
    _directed_data_packet,
    _keepalive_packet,
    _session_key_packet,
    _recording_stream_header_packet,
    _recording_stream_command_packet,
    _recording_stream_end_packet,
};

struct packet_header
{
    uint16_t packet_identifier; // PACKET_IDENTIFIER
    int16_t type; // metaserver_packet_type
    int32_t length; // the whole packet, header included
};
static_assert(sizeof(packet_header) == METASERVER_PACKET_HEADER_SIZE);

enum room_type
{
    _unranked_room = 0,
    _ranked_room,
    _tournament_room,
};

enum
{
    _room_supports_recording_stream_flag = 1,
    _room_requires_recording_stream_flag = 2,
    _room_user_not_allowed_flag = 4,
};

struct room_info
{
    int16_t room_id;
    int16_t player_count;
    int32_t host; // IPv4, first octet in the high byte; 0: the login host
    int16_t port;
    int16_t game_count;
    int16_t room_type;
    int16_t flags;
    int16_t unused[4];
};
static_assert(sizeof(room_info) == 24);

enum
{
    _add_player_verb = 0,
    _delete_player_verb,
    _change_player_verb,
};

enum
{
    _player_is_administrator_flag = 1,
    _player_is_anonymous_flag = 2,
    _player_is_draxil_caste_icon_flag = 4,
};

struct metaserver_player_aux_data
{
    uint16_t verb;
    uint16_t flags;
    int32_t ranking;
    uint32_t player_id;
    int32_t room_id;
    int16_t caste;
    int16_t player_data_length; // bytes of player data after the record
    int16_t order;
    int16_t pad;
};
static_assert(sizeof(metaserver_player_aux_data) == 24);

enum
{
    _add_game_verb = 0,
    _delete_game_verb,
    _change_game_verb,
};

struct metaserver_game_aux_data
{
    int32_t game_id;
    int32_t host;
    int16_t port;
    uint8_t verb;
    uint8_t version;
    int32_t seconds_remaining;
    int32_t creating_player_id;
    int16_t game_data_size; // bytes of game data after the record
    int16_t unused_short; // never swapped
    int32_t unused[2]; // never swapped
};
static_assert(sizeof(metaserver_game_aux_data) == 32);
static_assert(offsetof(metaserver_game_aux_data, verb) == 10);
static_assert(offsetof(metaserver_game_aux_data, game_data_size) == 20);

struct data_chunk_identifier_data
{
    int32_t flags;
    int32_t type;
    int32_t offset;
    int32_t length;
};
static_assert(sizeof(data_chunk_identifier_data) == 16);

enum
{
    _reset_player_data_flag = 1,
    _application_is_demo_flag = 2,
};

struct login_data
{
    int16_t metaserver_version; // sent as 0
    int16_t platform_type;
    int32_t flags;
    int32_t user_id;
    int16_t max_authentication;
    int16_t player_data_size;
    char application[32];
    char build_date[32];
    char build_time[32];
    char username[32];
    uint8_t player_data[MAXIMUM_METASERVER_PLAYER_DATA_SIZE];
    int16_t country_code;
    int16_t padding;
};
static_assert(sizeof(login_data) == 276);
static_assert(offsetof(login_data, application) == 16);
static_assert(offsetof(login_data, player_data) == 144);

struct buddy_entry
{
    uint32_t player_id;
    uint8_t active;
    uint8_t pad[3];
};
static_assert(sizeof(buddy_entry) == 8);

struct order_member
{
    uint32_t player_id;
    int32_t online;
};
static_assert(sizeof(order_member) == 8);

struct update_info_packet
{
    int32_t size;
    int32_t host;
    int16_t port;
    int16_t unused_short;
};
static_assert(sizeof(update_info_packet) == 12);

struct proxy_client_join_packet
{
    uint16_t port;
    char host[48];
    uint8_t auth_token[16];
};
static_assert(sizeof(proxy_client_join_packet) == 66);

struct draxil_net_player_score_datum
{
    int16_t games_played;
    int16_t wins;
    int16_t losses;
    int16_t ties;
    int32_t damage_inflicted;
    int32_t damage_received;
    int16_t disconnects;
    uint16_t pad;
    int16_t points;
    int16_t rank;
    int16_t highest_points;
    int16_t highest_rank;
    uint32_t numerical_ranking;
    uint8_t unused[16];
};
static_assert(sizeof(draxil_net_player_score_datum) == 48);

struct ranking_data
{
    uint32_t average;
    uint32_t best;
};

struct game_rank_data
{
    char top_ranked_player[32];
    ranking_data points;
    ranking_data games_played;
    ranking_data wins;
    ranking_data damage_inflicted;
    ranking_data damage_received;
};
static_assert(sizeof(game_rank_data) == 72);

struct overall_ranking_data
{
    uint32_t total_users;
    uint32_t total_orders;
    game_rank_data ranks[NUMBER_OF_SCORE_DATUMS];
};
static_assert(sizeof(overall_ranking_data) == 2600);

struct metaserver_rgb_color
{
    uint16_t red, green, blue, flags;
};

// Type 17's fixed part; the login name, player name, order name and the four
// strings of the player's description follow, each terminated.
struct player_info_packet
{
    int32_t administrator_flag;
    int32_t draxil_employee_flag;
    int16_t order_index;
    int16_t icon_index;
    metaserver_rgb_color primary_color;
    metaserver_rgb_color secondary_color;
    draxil_net_player_score_datum scores[NUMBER_OF_SCORE_DATUMS];
    overall_ranking_data overall_rank_data;
};
static_assert(sizeof(player_info_packet) == 4356);
static_assert(offsetof(player_info_packet, scores) == 28);

// ---- sizes -------------------------------------------------------------------

// The smallest length (header included) each type may have; 0 for a number
// that is no packet type.  Consulted before any swap or read.
int32_t metaserver_packet_minimum_length(int16_t type);

// ---- builders --------------------------------------------------------------

int32_t build_login_packet(void *buffer, int32_t capacity, const login_data *login);
int32_t build_room_login_packet(void *buffer, int32_t capacity, const uint8_t token[MAXIMUM_HANDOFF_TOKEN_SIZE],
                                const char *user_name);
int32_t build_logout_packet(void *buffer, int32_t capacity);
int32_t build_set_player_data_packet(void *buffer, int32_t capacity, const void *data, int32_t length);
// The hosting port and 1 for an order game, then the game data.
int32_t build_game_packet(void *buffer, int32_t capacity, int16_t port, int16_t order_game, const void *data,
                          int32_t length);
int32_t build_remove_game_packet(void *buffer, int32_t capacity);
int32_t build_change_room_packet(void *buffer, int32_t capacity, int16_t room_id);
int32_t build_set_player_mode_packet(void *buffer, int32_t capacity, int16_t mode);
int32_t build_data_chunk_reply_packet(void *buffer, int32_t capacity, const data_chunk_identifier_data *chunk);
int32_t build_password_response_packet(void *buffer, int32_t capacity, const void *response, int32_t length);
int32_t build_request_full_update_packet(void *buffer, int32_t capacity);
// The game's identifier; players follow through add_game_player_data_to_packet.
int32_t start_building_game_player_list_packet(void *buffer, int32_t capacity, int32_t game_id);
// Appends one player identifier; false when the buffer is no packet of ours
// (assertion) or full.
bool add_game_player_data_to_packet(void *buffer, int32_t capacity, uint32_t player_id);
// The standings with max(16, number_of_players) player records.
int32_t build_game_score_packet(void *buffer, int32_t capacity, uint32_t game_id,
                                const draxil_net_game_standings *standings);
int32_t build_reset_game_packet(void *buffer, int32_t capacity);
int32_t build_start_game_packet(void *buffer, int32_t capacity, int32_t game_seconds);
int32_t build_version_control_packet(void *buffer, int32_t capacity, int32_t platform, int32_t version,
                                     int32_t patch, int32_t build);
int32_t build_player_search_query_packet(void *buffer, int32_t capacity, const char *text);
int32_t build_buddy_query_packet(void *buffer, int32_t capacity);
int32_t build_order_query_packet(void *buffer, int32_t capacity);
int32_t build_update_buddy_packet(void *buffer, int32_t capacity, int32_t player_id, bool add);
int32_t build_player_info_query_packet(void *buffer, int32_t capacity, int32_t player_id);
// The four strings take at most 433 bytes with their terminators: the first
// that overflows is cut, those after it are sent empty.
int32_t build_update_player_information_packet(void *buffer, int32_t capacity, const char *city, const char *state,
                                               const char *country, const char *personal);
int32_t build_room_broadcast_packet(void *buffer, int32_t capacity, const void *data, int32_t length);
// To `target_player`, with the service's second word always 1.
int32_t build_directed_data_packet(void *buffer, int32_t capacity, uint32_t target_player, const void *data,
                                   int32_t length);
int32_t build_keepalive_packet(void *buffer, int32_t capacity);
int32_t build_sessionkey_packet(void *buffer, int32_t capacity, const uint8_t public_key[8]);
int32_t build_recording_stream_header_packet(void *buffer, int32_t capacity, const void *data, int32_t length);
int32_t build_recording_stream_command_packet(void *buffer, int32_t capacity, const void *data, int32_t length);
int32_t build_recording_stream_end_packet(void *buffer, int32_t capacity, int32_t value);

// ---- byte swap and stream ---------------------------------------------------

// Converts the header and body of one packet of `available` bytes in place;
// with `outgoing` the packet is in host order on entry, else in wire order.
// False, with a log line and the body left unconverted, when the length is
// below its type's minimum or above `available`, an entry of a list does not
// fit inside the packet, a walk does not end at the packet's end, a member
// count exceeds 50 or the length, or the type is unknown: the caller refuses
// the packet.
bool byteswap_packet(void *packet, int32_t available, bool outgoing);

enum metaserver_stream_result
{
    _metaserver_stream_incomplete, // wait for more bytes; nothing taken
    _metaserver_stream_packet, // one whole packet (wire order) in the buffer
    _metaserver_stream_broken, // a length below 8 or above the buffer: close the connection
};
// Cuts the next packet out of the receive queue into `buffer` (`size` bytes).
metaserver_stream_result parse_network_stream(circular_queue *queue, void *buffer, int32_t size);
