#pragma once
// The lobby's room table: one slot per room identifier (0..127, the table
// never grows), filled from the service's room lists.  A room keeps the type
// it was first listed with; everything else is replaced by a later entry.
// Every operation with an identifier outside 0..127 is logged and does
// nothing (or answers false / -1).  Main thread only.

#include <cstdint>

enum : int16_t
{
    INITIAL_MAXIMUM_ROOMS = 128,
};

struct room_data
{
    int32_t host; // IPv4, first octet in the high byte; 0: the login host
    int16_t port;
    int16_t player_count;
    int16_t game_count;
    int16_t room_type;
    int16_t room_flags;
    int16_t padding;
};
static_assert(sizeof(room_data) == 16);

void initialize_metaserver_room_list(void);
void dispose_metaserver_room_list(void);
// Adds the room, or changes it when its slot is taken (its type stays).
void add_or_change_metaserver_room(int16_t room_id, int16_t player_count, int16_t game_count, int32_t host,
                                   int16_t port, int16_t room_type, int16_t flags);
void delete_metaserver_room(int16_t room_id);
// False when the slot is empty (or out of range); `room` may be null.
bool get_metaserver_room_data(int16_t room_id, room_data *room);
bool metaserver_room_available(int16_t room_id);
// The number of rooms listed (the lobby table's `metaserver_room_count`).
int16_t metaserver_room_table_count(void);
// The next occupied slot after `room_id` (-1: from the start) going forward or
// backward with wrap, `room_id` itself tried last; -1 when the table is empty.
int16_t next_metaserver_room(int16_t room_id, bool forward);
// The highest occupied identifier, -1 when none.
int16_t maximum_metaserver_room_index(void);
void set_maximum_players_per_metaserver_room(int16_t count);
int16_t maximum_players_per_metaserver_room(void);
// Whether a room was added or changed since the last call.
bool metaserver_rooms_dirty(void);
