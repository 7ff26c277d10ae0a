#include "overhead_map_procedures.h"

#include "cseries/procedure_table_slot.h"

static procedure_table_slot<overhead_map_procedures> overhead_map_table_slot("overhead map procedures");

bool register_overhead_map_procedures(const overhead_map_procedures *procedures)
{
    return overhead_map_table_slot.fill(procedures);
}

const overhead_map_procedures *get_overhead_map_procedures(void) { return overhead_map_table_slot.get(); }
