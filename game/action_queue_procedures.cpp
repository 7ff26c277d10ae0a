#include "action_queue_procedures.h"

#include "cseries/procedure_table_slot.h"

static procedure_table_slot<action_queue_procedures> action_queue_table_slot("action queue procedures");

bool register_action_queue_procedures(const action_queue_procedures *procedures)
{
    return action_queue_table_slot.fill(procedures);
}

const action_queue_procedures *get_action_queue_procedures(void) { return action_queue_table_slot.get(); }
