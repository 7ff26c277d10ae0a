// The registration points of networking and the lobby for the game's controls.

#include "bitmap_dialogs/network_services.h"

#include "cseries/registration.h"

static procedure_slot<networked_game_supports_ping_proc> supports_ping_slot("networked game supports ping");
static procedure_slot<get_player_latency_proc> latency_slot("get player latency");
static procedure_slot<enough_players_for_ranked_game_proc> ranked_slot("enough players for ranked game");
static procedure_slot<get_player_buddy_status_proc> buddy_slot("get player buddy status");
static procedure_slot<metaserver_room_count_proc> room_count_slot("metaserver room count");

bool register_networked_game_supports_ping_procedure(networked_game_supports_ping_proc procedure)
{
    return supports_ping_slot.fill(procedure);
}
bool register_get_player_latency_procedure(get_player_latency_proc procedure)
{
    return latency_slot.fill(procedure);
}
bool register_enough_players_for_ranked_game_procedure(enough_players_for_ranked_game_proc procedure)
{
    return ranked_slot.fill(procedure);
}
bool register_get_player_buddy_status_procedure(get_player_buddy_status_proc procedure)
{
    return buddy_slot.fill(procedure);
}
bool register_metaserver_room_count_procedure(metaserver_room_count_proc procedure)
{
    return room_count_slot.fill(procedure);
}

bool networked_game_supports_ping(void)
{
    const networked_game_supports_ping_proc procedure = supports_ping_slot.get();
    return procedure ? procedure() : false;
}

int16_t get_player_latency(int32_t player_id)
{
    const get_player_latency_proc procedure = latency_slot.get();
    return procedure ? procedure(player_id) : 0;
}

bool enough_players_for_ranked_game(void)
{
    const enough_players_for_ranked_game_proc procedure = ranked_slot.get();
    return procedure ? procedure() : false;
}

char get_player_buddy_status(int32_t lobby_player_id)
{
    const get_player_buddy_status_proc procedure = buddy_slot.get();
    return procedure ? procedure(lobby_player_id) : 0;
}

int16_t metaserver_room_count(void)
{
    const metaserver_room_count_proc procedure = room_count_slot.get();
    return procedure ? procedure() : 0;
}
