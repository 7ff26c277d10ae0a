#include "film_dialog_procedures.h"

#include "cseries/procedure_table_slot.h"

static procedure_table_slot<film_dialog_procedures> film_dialog_table_slot("film dialog procedures");

bool register_film_dialog_procedures(const film_dialog_procedures *procedures)
{
    return film_dialog_table_slot.fill(procedures);
}

const film_dialog_procedures *get_film_dialog_procedures(void) { return film_dialog_table_slot.get(); }
