#include "screen_procedures.h"

#include "cseries/procedure_table_slot.h"

static procedure_table_slot<screen_procedures> screen_table_slot("screen procedures");

bool register_screen_procedures(const screen_procedures *procedures) { return screen_table_slot.fill(procedures); }

const screen_procedures *get_screen_procedures(void) { return screen_table_slot.get(); }
