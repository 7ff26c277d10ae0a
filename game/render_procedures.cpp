#include "render_procedures.h"

#include "cseries/procedure_table_slot.h"

static procedure_table_slot<render_procedures> render_table_slot("render procedures");

bool register_render_procedures(const render_procedures *procedures) { return render_table_slot.fill(procedures); }

const render_procedures *get_render_procedures(void) { return render_table_slot.get(); }
