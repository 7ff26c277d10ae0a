// The front end's one registration point.

#include "front_end_procedures.h"

#include "cseries/procedure_table_slot.h"

static procedure_table_slot<front_end_procedures> front_end_table_slot("front end procedures");

bool register_front_end_procedures(const front_end_procedures *procedures)
{
    return front_end_table_slot.fill(procedures);
}

const front_end_procedures *get_front_end_procedures(void) { return front_end_table_slot.get(); }

bool front_end_procedures_registered(void) { return front_end_table_slot.filled(); }
