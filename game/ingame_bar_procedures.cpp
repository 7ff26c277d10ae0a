#include "ingame_bar_procedures.h"

#include "cseries/procedure_table_slot.h"

static procedure_table_slot<ingame_bar_procedures> ingame_bar_table_slot("in-game bar procedures");

bool register_ingame_bar_procedures(const ingame_bar_procedures *procedures)
{
    return ingame_bar_table_slot.fill(procedures);
}

const ingame_bar_procedures *get_ingame_bar_procedures(void) { return ingame_bar_table_slot.get(); }
