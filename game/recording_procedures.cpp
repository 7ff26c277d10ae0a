#include "recording_procedures.h"

#include "cseries/procedure_table_slot.h"

static procedure_table_slot<recording_procedures> recording_table_slot("recording procedures");

bool register_recording_procedures(const recording_procedures *procedures)
{
    return recording_table_slot.fill(procedures);
}

const recording_procedures *get_recording_procedures(void) { return recording_table_slot.get(); }
