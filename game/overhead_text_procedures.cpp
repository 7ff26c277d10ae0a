#include "overhead_text_procedures.h"

#include "cseries/procedure_table_slot.h"

static procedure_table_slot<overhead_text_procedures> overhead_text_table_slot("overhead text procedures");

bool register_overhead_text_procedures(const overhead_text_procedures *procedures)
{
    return overhead_text_table_slot.fill(procedures);
}

const overhead_text_procedures *get_overhead_text_procedures(void) { return overhead_text_table_slot.get(); }
