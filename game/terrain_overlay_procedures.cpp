#include "terrain_overlay_procedures.h"

#include "cseries/procedure_table_slot.h"

static procedure_table_slot<terrain_overlay_procedures> terrain_overlay_table_slot("terrain overlay procedures");

bool register_terrain_overlay_procedures(const terrain_overlay_procedures *procedures)
{
    return terrain_overlay_table_slot.fill(procedures);
}

const terrain_overlay_procedures *get_terrain_overlay_procedures(void) { return terrain_overlay_table_slot.get(); }
