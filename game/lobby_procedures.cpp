// The lobby's one registration point and the calls that default for it.

#include "lobby_procedures.h"

#include "cseries/procedure_table_slot.h"

static procedure_table_slot<lobby_procedures> lobby_table_slot("lobby procedures");

bool register_lobby_procedures(const lobby_procedures *procedures) { return lobby_table_slot.fill(procedures); }

const lobby_procedures *get_lobby_procedures(void) { return lobby_table_slot.get(); }

bool lobby_procedures_registered(void) { return lobby_table_slot.filled(); }

char get_player_buddy_status(int32_t lobby_player_id)
{
    const auto procedure = get_lobby_procedures()->get_player_buddy_status;
    return procedure ? procedure(lobby_player_id) : (char)0;
}

int16_t metaserver_room_count(void)
{
    const auto procedure = get_lobby_procedures()->metaserver_room_count;
    return procedure ? procedure() : (int16_t)0;
}
