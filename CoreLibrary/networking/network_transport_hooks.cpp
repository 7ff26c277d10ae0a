#include "network_transport_hooks.h"

#include "networking_procedures.h"
#include "connection_manager.h"
#include "cseries/procedure_table_slot.h"
#include "uber/uber.h"

// The connection manager's point lives with the transport's wiring, which
// every program links, so the slot exists (and is seen waiting) even where
// nothing opens a connection yet.
static procedure_table_slot<connection_manager_game_procedures> game_procedures_slot(
    "connection manager game procedures");

bool register_connection_manager_game_procedures(const connection_manager_game_procedures *procedures)
{
    return game_procedures_slot.fill(procedures);
}

const connection_manager_game_procedures *get_connection_manager_game_procedures(void)
{
    return game_procedures_slot.get();
}

void register_network_transport_hooks(void)
{
    // The transport offers the program one procedure, the start of the net
    // module manager, which `main` calls once after start-up.
    register_start_network_module_manager_procedure(InitUber);
}
