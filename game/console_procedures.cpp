#include "console_procedures.h"

#include "cseries/procedure_table_slot.h"
#include "game_hooks.h"

static procedure_table_slot<console_procedures> console_table_slot("console procedures");

bool register_console_procedures(const console_procedures *procedures) { return console_table_slot.fill(procedures); }

const console_procedures *get_console_procedures(void) { return console_table_slot.get(); }

print_to_console_procedure get_print_to_console_procedure(void) { return get_console_procedures()->print_to_console; }

out_of_sync_procedure get_out_of_sync_procedure(void) { return get_console_procedures()->out_of_sync; }
