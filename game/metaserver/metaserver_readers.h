#pragma once
// Readers of the lobby's list packets, after the pump has swapped them to host
// order.  Each walks the entries of one packet of `length` bytes (header
// included) and never reads past it: an entry that does not fit ends the
// walk with nothing.  Texts are copied with extract_string, bounded by the
// end of their data.

#include <cstddef>
#include <cstdint>

#include "metaserver_lib/metaserver_packets.h"

// Copies at most `size` - 1 characters of `source` into `destination`,
// stopping at the terminator or at `end`, and always terminates it.  Returns
// the position after the source's terminator, or `end` when the text runs to it.
const char *extract_string(char *destination, const char *source, size_t size, const char *end);
// The text of an event's `length` bytes of data, cut to `size` - 1
// characters; empty for no data.
void extract_event_text(char *destination, const void *data, int32_t length, size_t size);

// A walk over the entries of one list packet, for readers of every entry:
// each step costs one entry, where the indexed readers below start again
// from the first.
struct metaserver_list_walk
{
    const uint8_t *at, *end;
    int32_t prefix; // bytes before the aux record (the room id of search lists)
    int32_t aux_size;
    int32_t length_offset; // of the data length inside the aux record
};
void start_player_list_walk(metaserver_list_walk *walk, const void *packet, int32_t length);
void start_search_list_walk(metaserver_list_walk *walk, const void *packet, int32_t length);
void start_game_list_walk(metaserver_list_walk *walk, const void *packet, int32_t length);
// The next entry: its prefix (may be null), its aux record (`aux_size`
// bytes) and its data, or null at the end or at an entry that does not fit.
const uint8_t *next_metaserver_list_entry(metaserver_list_walk *walk, void *prefix, void *aux, int32_t *data_length);

// Room entry `index` of a room list; false past the last whole entry.
bool get_indexed_room_data_from_packet(const void *packet, int32_t length, int32_t index, room_info *room);
// Player entry `index` of a player list: its aux record and its player data
// (`*data_length` bytes), or null.
const uint8_t *get_indexed_player_data_from_packet(const void *packet, int32_t length, int32_t index,
                                                   metaserver_player_aux_data *aux, int32_t *data_length);
// The same for search, buddy and order lists, whose entries carry the room
// the player is in first.
const uint8_t *get_indexed_player_data_from_search_packet(const void *packet, int32_t length, int32_t index,
                                                          int32_t *room_id, metaserver_player_aux_data *aux,
                                                          int32_t *data_length);
// Game entry `index` of a game list: its aux record and game data.
const uint8_t *get_indexed_game_data_from_packet(const void *packet, int32_t length, int32_t index,
                                                 metaserver_game_aux_data *aux, int32_t *data_length);
// The player data of a set-player-data packet (type 8), at most 128 bytes.
const uint8_t *get_player_data_from_metaserver(const void *packet, int32_t length, int32_t *data_length,
                                               metaserver_player_aux_data *aux);

// Whether `data_length` bytes of player data are the 38-byte record and two
// texts ending exactly at the end of the data; the names are copied out
// (each at most 31 characters) when asked.
bool parse_metaserver_player_data(const uint8_t *data, int32_t data_length, char *name, size_t name_size,
                                  char *team_name, size_t team_name_size);

// One player's statistics, from a player info packet (type 17).
struct metaserver_player_stats
{
    player_info_packet fixed;
    char login[16];
    char name[32];
    char order_name[64];
    char description[432]; // city, state, country, personal text, each terminated
};

// Fills `stats` from the `length` bytes of a player info packet's body (the
// header excluded).  False, with the record zeroed, when the body is shorter
// than the fixed part.
bool build_metaserver_player_stats_from_player_info_packet(metaserver_player_stats *stats, const void *body,
                                                           int32_t length);
