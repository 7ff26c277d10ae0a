#pragma once
// Building and reading the networking library's packets (packet_definitions.h)
// and its status packets (public_packet_definitions.h), in host order.
//
// Every builder writes into `packet`, which has room for `capacity` bytes,
// fills the header's `what`, `messageLen` and `to` (`from` and `id` are 0
// until the packet is sent; kSendToServer for a status packet) and returns
// `messageLen`.  It returns 0, with a log line, when the packet would not fit
// in `capacity` or in MAXIMUM_SINGLE_PACKET_SIZE, when player data are longer
// than NETWORK_PLAYER_DATA_SIZE, game data longer than
// MAXIMUM_USER_GAME_DATA_SIZE, or a length is negative; what it wrote then
// means nothing.
//
// Every reader takes a packet that holds its whole `messageLen` bytes (the
// queue gives nothing else) and refuses, with a log line and a null or false
// result, a packet of another type, one shorter than its fixed fields, a
// name or password without its terminator inside `messageLen`, and player or
// game data beyond the limits above.  What a reader returns points into the
// packet.

#include <cstdint>

int32_t build_join_request_packet(void *packet, int32_t capacity, uint8_t to, const char *name,
                                  const char *password, const void *data, int32_t data_length);
int32_t build_player_data_changed_packet(void *packet, int32_t capacity, uint8_t to, int16_t player_id,
                                         const void *data, int32_t data_length);
int32_t build_game_data_changed_packet(void *packet, int32_t capacity, uint8_t to, const void *data,
                                       int32_t data_length);
int32_t build_game_data_packet(void *packet, int32_t capacity, uint8_t to, const void *data, int32_t data_length);
// The owner flag is set when `to` is `player_id`: the packet tells its
// receiver who it is.
int32_t build_new_player_packet(void *packet, int32_t capacity, uint8_t to, int16_t player_id, const char *name,
                                const void *data, int32_t data_length);
// The text, then "error=<error>" unless `error` is -1, each terminated.
int32_t build_join_request_denied_packet(void *packet, int32_t capacity, uint8_t to, const char *message,
                                         int32_t error);
int32_t build_server_deleted_player_packet(void *packet, int32_t capacity, uint8_t to, int16_t player_id);
int32_t build_client_connection_closed_packet(void *packet, int32_t capacity, uint8_t to);

int32_t build_game_data_packet_public(void *packet, int32_t capacity, uint8_t to, const void *data,
                                      int32_t length);
int32_t build_player_data_changed_packet_public(void *packet, int32_t capacity, uint8_t to, int16_t player_id,
                                                const void *data, int32_t length);

// A join request's name, password and player data.  Empty names and
// passwords are allowed.
bool parse_join_request_packet(const void *packet, const char **name, const char **password, const void **data,
                               int32_t *data_length);

// A new-player packet's name; null when refused.
const char *get_name_from_new_player_packet(const void *packet);
// A new-player packet's player data (after the name) and their length; null
// when refused.
const void *get_player_data_from_new_player_packet(const void *packet, int32_t *length);

// The data and length of a game-data status packet; null when refused.
const void *extract_game_data_from_packet(const void *packet, int32_t *length);
// The data and length of a player-data-changed status packet; null when refused.
const void *extract_player_data_from_packet(const void *packet, int32_t *length);
