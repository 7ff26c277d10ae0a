// The unit layer's answer to what the core asks about a unit.

#include "unit_facts.h"

#include "cseries/registration.h"

static procedure_slot<unit_facts_procedure> unit_facts_slot("unit facts");

bool register_unit_facts_procedure(unit_facts_procedure procedure) { return unit_facts_slot.fill(procedure); }

bool get_unit_facts(int32_t unit_index, unit_facts *facts)
{
    const unit_facts_procedure procedure = unit_facts_slot.get();
    if (!facts || !procedure || unit_index == NONE) return false;
    unit_facts answer;
    if (!procedure(unit_index, &answer)) return false;
    *facts = answer;
    return true;
}
