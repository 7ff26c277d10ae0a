#include "tag_files/collection_procedures.h"

#include "cseries/procedure_table_slot.h"

static procedure_table_slot<collection_procedures> collection_table_slot("collection procedures");

bool register_collection_procedures(const collection_procedures *procedures)
{
    return collection_table_slot.fill(procedures);
}

const collection_procedures *get_collection_procedures(void) { return collection_table_slot.get(); }
