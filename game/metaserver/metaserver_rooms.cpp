// The lobby's room table.  See metaserver_rooms.h.

#include "metaserver/metaserver_rooms.h"

#include <cstring>

#include "cseries/log.h"

static struct metaserver_room_globals
{
    bool dirty;
    bool occupied[INITIAL_MAXIMUM_ROOMS];
    room_data room_array[INITIAL_MAXIMUM_ROOMS];
    int16_t maximum_room_count;
    int16_t maximum_players_per_room;
} metaserver_room_globals;

static bool room_in_range(int32_t room_id)
{
    if (room_id >= 0 && room_id < INITIAL_MAXIMUM_ROOMS) return true;
    LOG_REPEATED("room id out of range: %d not in [0, %d)", (int)room_id,
                (int)INITIAL_MAXIMUM_ROOMS);
    return false;
}

void initialize_metaserver_room_list(void)
{
    memset(&metaserver_room_globals, 0, sizeof(metaserver_room_globals));
    metaserver_room_globals.maximum_room_count = INITIAL_MAXIMUM_ROOMS;
}

void dispose_metaserver_room_list(void) { initialize_metaserver_room_list(); }

void add_or_change_metaserver_room(int16_t room_id, int16_t player_count, int16_t game_count, int32_t host,
                                   int16_t port, int16_t room_type, int16_t flags)
{
    if (!room_in_range(room_id)) return;
    auto &m = metaserver_room_globals;
    room_data &room = m.room_array[room_id];
    if (!m.occupied[room_id])
    {
        memset(&room, 0, sizeof(room));
        room.room_type = room_type;
        m.occupied[room_id] = true;
    }
    room.host = host;
    room.port = port;
    room.player_count = player_count;
    room.game_count = game_count;
    room.room_flags = flags;
    m.dirty = true;
}

void delete_metaserver_room(int16_t room_id)
{
    if (!room_in_range(room_id)) return;
    metaserver_room_globals.occupied[room_id] = false;
    memset(&metaserver_room_globals.room_array[room_id], 0, sizeof(room_data));
}

bool get_metaserver_room_data(int16_t room_id, room_data *room)
{
    if (!room_in_range(room_id) || !metaserver_room_globals.occupied[room_id]) return false;
    if (room) *room = metaserver_room_globals.room_array[room_id];
    return true;
}

bool metaserver_room_available(int16_t room_id) { return get_metaserver_room_data(room_id, nullptr); }

int16_t metaserver_room_table_count(void)
{
    int16_t count = 0;
    for (bool occupied : metaserver_room_globals.occupied) count += occupied ? 1 : 0;
    return count;
}

int16_t next_metaserver_room(int16_t room_id, bool forward)
{
    if (room_id != -1 && !room_in_range(room_id)) return -1;
    const int32_t n = INITIAL_MAXIMUM_ROOMS;
    const int32_t start = room_id == -1 ? 0 : room_id;
    for (int32_t k = 1; k <= n; ++k)
    {
        const int32_t slot = ((n + start + (forward ? k : -k)) % n + n) % n;
        if (metaserver_room_globals.occupied[slot]) return (int16_t)slot;
    }
    return -1;
}

int16_t maximum_metaserver_room_index(void)
{
    for (int32_t slot = INITIAL_MAXIMUM_ROOMS - 1; slot >= 0; --slot)
        if (metaserver_room_globals.occupied[slot]) return (int16_t)slot;
    return -1;
}

void set_maximum_players_per_metaserver_room(int16_t count) { metaserver_room_globals.maximum_players_per_room = count; }

int16_t maximum_players_per_metaserver_room(void) { return metaserver_room_globals.maximum_players_per_room; }

bool metaserver_rooms_dirty(void)
{
    const bool dirty = metaserver_room_globals.dirty;
    metaserver_room_globals.dirty = false;
    return dirty;
}
