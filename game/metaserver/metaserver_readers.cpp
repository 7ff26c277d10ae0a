// Readers of the lobby's list packets.  See metaserver_readers.h.

#include "metaserver/metaserver_readers.h"

#include <cstring>

#include "metaserver/metaserver_authentication.h"

constexpr int32_t HEADER = METASERVER_PACKET_HEADER_SIZE;

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

bool get_indexed_room_data_from_packet(const void *packet, int32_t length, int32_t index, room_info *room)
{
    const int32_t count = (length - HEADER) / (int32_t)sizeof(room_info);
    if (!packet || index < 0 || index >= count) return false;
    memcpy(room, (const uint8_t *)packet + HEADER + index * (int32_t)sizeof(room_info), sizeof(room_info));
    return true;
}

// Walks entries of `prefix` + `aux_size` bytes followed by the data length the
// aux gives at `length_offset`, to entry `index`.
static const uint8_t *indexed_entry(const void *packet, int32_t length, int32_t index, int32_t prefix,
                                    int32_t aux_size, int32_t length_offset, int32_t *data_length)
{
    if (!packet || index < 0) return nullptr;
    const uint8_t *at = (const uint8_t *)packet + HEADER;
    const uint8_t *end = (const uint8_t *)packet + length;
    for (int32_t i = 0;; ++i)
    {
        if (end - at < prefix + aux_size) return nullptr;
        int16_t data;
        memcpy(&data, at + prefix + length_offset, 2);
        if (data < 0 || data > end - at - prefix - aux_size) return nullptr;
        if (i == index)
        {
            *data_length = data;
            return at;
        }
        at += prefix + aux_size + data;
    }
}

const uint8_t *get_indexed_player_data_from_packet(const void *packet, int32_t length, int32_t index,
                                                   metaserver_player_aux_data *aux, int32_t *data_length)
{
    const uint8_t *entry = indexed_entry(packet, length, index, 0, sizeof(*aux),
                                         offsetof(metaserver_player_aux_data, player_data_length), data_length);
    if (!entry) return nullptr;
    memcpy(aux, entry, sizeof(*aux));
    return entry + sizeof(*aux);
}

const uint8_t *get_indexed_player_data_from_search_packet(const void *packet, int32_t length, int32_t index,
                                                          int32_t *room_id, metaserver_player_aux_data *aux,
                                                          int32_t *data_length)
{
    const uint8_t *entry = indexed_entry(packet, length, index, 4, sizeof(*aux),
                                         offsetof(metaserver_player_aux_data, player_data_length), data_length);
    if (!entry) return nullptr;
    memcpy(room_id, entry, 4);
    memcpy(aux, entry + 4, sizeof(*aux));
    return entry + 4 + sizeof(*aux);
}

const uint8_t *get_indexed_game_data_from_packet(const void *packet, int32_t length, int32_t index,
                                                 metaserver_game_aux_data *aux, int32_t *data_length)
{
    const uint8_t *entry = indexed_entry(packet, length, index, 0, sizeof(*aux),
                                         offsetof(metaserver_game_aux_data, game_data_size), data_length);
    if (!entry) return nullptr;
    memcpy(aux, entry, sizeof(*aux));
    return entry + sizeof(*aux);
}

const uint8_t *get_player_data_from_metaserver(const void *packet, int32_t length, int32_t *data_length,
                                               metaserver_player_aux_data *aux)
{
    const int32_t fixed = HEADER + (int32_t)sizeof(*aux);
    if (!packet || length < fixed) return nullptr;
    memcpy(aux, (const uint8_t *)packet + HEADER, sizeof(*aux));
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
