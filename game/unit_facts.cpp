// The unit layer's answer to what the core asks about a unit.

#include "unit_facts.h"

static struct unit_facts_globals
{
    unit_facts_procedure procedure;
} unit_facts_globals;

bool register_unit_facts_procedure(unit_facts_procedure procedure)
{
    if (!VASSERT(procedure, "a null unit facts procedure")) return false;
    if (!VASSERT(!unit_facts_globals.procedure, "the unit facts procedure is registered already")) return false;
    unit_facts_globals.procedure = procedure;
    return true;
}

void clear_unit_facts_procedure(void) { unit_facts_globals.procedure = nullptr; }

bool get_unit_facts(int32_t unit_index, unit_facts *facts)
{
    if (!facts || !unit_facts_globals.procedure || unit_index == NONE) return false;
    unit_facts answer;
    if (!unit_facts_globals.procedure(unit_index, &answer)) return false;
    *facts = answer;
    return true;
}
