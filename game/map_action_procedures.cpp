#include "map_action_procedures.h"

#include "cseries/procedure_table_slot.h"

static procedure_table_slot<map_action_procedures> map_action_table_slot("map action procedures");

bool register_map_action_procedures(const map_action_procedures *procedures)
{
    return map_action_table_slot.fill(procedures);
}

const map_action_procedures *get_map_action_procedures(void) { return map_action_table_slot.get(); }
