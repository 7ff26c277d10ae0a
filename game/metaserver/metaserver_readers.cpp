// Readers of the lobby's list packets.  See metaserver_readers.h.

#include "metaserver/metaserver_readers.h"

#include <cstring>

#include "metaserver/metaserver_authentication.h"

const char *extract_string(char *destination, const char *source, size_t size, const char *end)
{
    size_t copied = 0;
    const char *at = source;
    while (at < end && *at)
    {
        if (destination && copied + 1 < size) destination[copied++] = *at;
        ++at;
    }
    if (destination && size) destination[copied] = 0;
    return at < end ? at + 1 : end;
}

void extract_event_text(char *destination, const void *data, int32_t length, size_t size)
{
    const char *source = (const char *)data;
    extract_string(destination, source, size, source && length > 0 ? source + length : source);
}

bool get_indexed_room_data_from_packet(const void *packet, int32_t length, int32_t index, room_info *room)
{
    const int32_t count = (length - METASERVER_PACKET_HEADER_SIZE) / (int32_t)sizeof(room_info);
    if (!packet || index < 0 || index >= count) return false;
    memcpy(room, (const uint8_t *)packet + METASERVER_PACKET_HEADER_SIZE + index * (int32_t)sizeof(room_info), sizeof(room_info));
    return true;
}

static void start_walk(metaserver_list_walk *walk, const void *packet, int32_t length, int32_t prefix,
                       int32_t aux_size, int32_t length_offset)
{
    const bool usable = packet && length >= METASERVER_PACKET_HEADER_SIZE;
    walk->at = usable ? (const uint8_t *)packet + METASERVER_PACKET_HEADER_SIZE : nullptr;
    walk->end = usable ? (const uint8_t *)packet + length : nullptr;
    walk->prefix = prefix;
    walk->aux_size = aux_size;
    walk->length_offset = length_offset;
}

void start_player_list_walk(metaserver_list_walk *walk, const void *packet, int32_t length)
{
    start_walk(walk, packet, length, 0, sizeof(metaserver_player_aux_data),
               offsetof(metaserver_player_aux_data, player_data_length));
}

void start_search_list_walk(metaserver_list_walk *walk, const void *packet, int32_t length)
{
    start_walk(walk, packet, length, 4, sizeof(metaserver_player_aux_data),
               offsetof(metaserver_player_aux_data, player_data_length));
}

void start_game_list_walk(metaserver_list_walk *walk, const void *packet, int32_t length)
{
    start_walk(walk, packet, length, 0, sizeof(metaserver_game_aux_data),
               offsetof(metaserver_game_aux_data, game_data_size));
}

const uint8_t *next_metaserver_list_entry(metaserver_list_walk *walk, void *prefix, void *aux, int32_t *data_length)
{
    if (!walk->at || walk->end - walk->at < walk->prefix + walk->aux_size) return nullptr;
    int16_t data;
    memcpy(&data, walk->at + walk->prefix + walk->length_offset, 2);
    if (data < 0 || data > walk->end - walk->at - walk->prefix - walk->aux_size)
    {
        walk->at = nullptr; // the walk ends at the first entry that does not fit
        return nullptr;
    }
    if (prefix) memcpy(prefix, walk->at, (size_t)walk->prefix);
    memcpy(aux, walk->at + walk->prefix, (size_t)walk->aux_size);
    const uint8_t *entry_data = walk->at + walk->prefix + walk->aux_size;
    walk->at = entry_data + data;
    *data_length = data;
    return entry_data;
}

// Entry `index` of the walk, or null.
static const uint8_t *indexed_entry(metaserver_list_walk *walk, int32_t index, void *prefix, void *aux,
                                    int32_t *data_length)
{
    if (index < 0) return nullptr;
    for (int32_t i = 0;; ++i)
    {
        const uint8_t *data = next_metaserver_list_entry(walk, prefix, aux, data_length);
        if (!data || i == index) return data;
    }
}

const uint8_t *get_indexed_player_data_from_packet(const void *packet, int32_t length, int32_t index,
                                                   metaserver_player_aux_data *aux, int32_t *data_length)
{
    metaserver_list_walk walk;
    start_player_list_walk(&walk, packet, length);
    return indexed_entry(&walk, index, nullptr, aux, data_length);
}

const uint8_t *get_indexed_player_data_from_search_packet(const void *packet, int32_t length, int32_t index,
                                                          int32_t *room_id, metaserver_player_aux_data *aux,
                                                          int32_t *data_length)
{
    metaserver_list_walk walk;
    start_search_list_walk(&walk, packet, length);
    return indexed_entry(&walk, index, room_id, aux, data_length);
}

const uint8_t *get_indexed_game_data_from_packet(const void *packet, int32_t length, int32_t index,
                                                 metaserver_game_aux_data *aux, int32_t *data_length)
{
    metaserver_list_walk walk;
    start_game_list_walk(&walk, packet, length);
    return indexed_entry(&walk, index, nullptr, aux, data_length);
}

const uint8_t *get_player_data_from_metaserver(const void *packet, int32_t length, int32_t *data_length,
                                               metaserver_player_aux_data *aux)
{
    const int32_t fixed = METASERVER_PACKET_HEADER_SIZE + (int32_t)sizeof(*aux);
    if (!packet || length < fixed) return nullptr;
    memcpy(aux, (const uint8_t *)packet + METASERVER_PACKET_HEADER_SIZE, sizeof(*aux));
    int32_t data = length - fixed;
    if (data > MAXIMUM_METASERVER_PLAYER_DATA_SIZE) data = MAXIMUM_METASERVER_PLAYER_DATA_SIZE;
    *data_length = data;
    return (const uint8_t *)packet + fixed;
}

bool parse_metaserver_player_data(const uint8_t *data, int32_t data_length, char *name, size_t name_size,
                                  char *team_name, size_t team_name_size)
{
    if (!data || data_length < (int32_t)sizeof(metaserver_player_data)) return false;
    const char *end = (const char *)data + data_length;
    const char *at = (const char *)data + sizeof(metaserver_player_data);
    at = extract_string(name, at, name_size, end);
    if (at == end) return false; // no terminator, or nothing left for the team name
    at = extract_string(team_name, at, team_name_size, end);
    // The team name's terminator must be the data's last byte.
    return at == end && end[-1] == 0;
}

bool build_metaserver_player_stats_from_player_info_packet(metaserver_player_stats *stats, const void *body,
                                                           int32_t length)
{
    memset(stats, 0, sizeof(*stats));
    if (!body || length < (int32_t)sizeof(player_info_packet)) return false;
    memcpy(&stats->fixed, body, sizeof(player_info_packet));
    const char *at = (const char *)body + sizeof(player_info_packet);
    const char *end = (const char *)body + length;
    at = extract_string(stats->login, at, 16, end);
    at = extract_string(stats->name, at, 32, end);
    at = extract_string(stats->order_name, at, 64, end);
    // City, state and country of at most 47 characters and the personal text
    // of at most 254, each further bounded by what remains of the 432 bytes.
    const size_t limits[4] = {48, 48, 48, 255};
    size_t used = 0;
    for (size_t limit : limits)
    {
        const size_t room = sizeof(stats->description) - used;
        if (room == 0) break;
        at = extract_string(stats->description + used, at, limit < room ? limit : room, end);
        used += strlen(stats->description + used) + 1;
    }
    return true;
}
