// Networking's one registration point and the calls that default for it.

#include "networking_procedures.h"

#include "cseries/procedure_table_slot.h"
#include "cseries/registration.h"

static procedure_table_slot<networking_procedures> networking_table_slot("networking procedures");

bool register_networking_procedures(const networking_procedures *procedures)
{
    return networking_table_slot.fill(procedures);
}

const networking_procedures *get_networking_procedures(void) { return networking_table_slot.get(); }

static procedure_slot<start_network_module_manager_procedure> start_network_module_manager_slot(
    "start network module manager");

bool register_start_network_module_manager_procedure(start_network_module_manager_procedure procedure)
{
    return start_network_module_manager_slot.fill(procedure);
}

void start_network_module_manager(void)
{
    if (const auto start = start_network_module_manager_slot.get()) start();
}

bool network_game_originator(void)
{
    const auto procedure = get_networking_procedures()->local_player_is_network_originator;
    return procedure ? procedure() : false;
}

bool networked_game_supports_ping(void)
{
    const auto procedure = get_networking_procedures()->networked_game_supports_ping;
    return procedure ? procedure() : false;
}

uint16_t get_local_player_latency(void)
{
    const auto procedure = get_networking_procedures()->get_local_player_latency;
    return procedure ? procedure() : (uint16_t)65535;
}

int16_t get_player_latency(int32_t player_id)
{
    const auto procedure = get_networking_procedures()->get_player_latency;
    return procedure ? procedure(player_id) : (int16_t)0;
}

bool enough_players_for_ranked_game(void)
{
    const auto procedure = get_networking_procedures()->enough_players_for_ranked_game;
    return procedure ? procedure() : false;
}
