#pragma once
// Unit control ('ctrl'): the script's hand on units.  It brings hidden units
// onto the map or takes them off, raises their markers, sets and clears unit
// flags, gives and switches carried objects, sets health, mana, ammunition,
// experience, names and heights, makes units transparent or ghostly,
// deletes or kills them, hands them to another player or eliminates their
// team.  Each requested change is applied to every unit of 'subj' in list
// order, the changes in the fixed order of docs/determinism.md ("Unit
// control"), with its version gates and draws.  Keeps no state between
// triggers.

#include <cstdint>

// Applies the action's changes; always returns _map_action_proc_succeeded_flag
// (2): absent parameters skip their change, markers, units and objects that
// do not exist are skipped.
uint32_t unit_control_action_proc(int32_t action_index);
