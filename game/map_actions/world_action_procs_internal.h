#pragma once
// What the unit and world procedures share beyond every procedure's helpers
// (action_proc_helpers.h): unit lists out of an action's entries.  Private to
// those procedures.

#include <cstdint>

#include "action_proc_helpers.h"
#include "map_action_parameters.h"
#include "map_actions.h"
#include "monster_lists.h"

enum { MAXIMUM_WORLD_PROC_SUBJECTS = 400 };

// The combined unit identifiers of `name` (at most `maximum`, which is at most
// MAXIMUM_WORLD_PROC_SUBJECTS) as indexes of used units, order kept.
// `identifier_count`, when given, receives how many identifiers were read.
inline int32_t named_units(int32_t action_index, field_tag name, int16_t *indexes, int32_t maximum,
                           int32_t *identifier_count = nullptr)
{
    int16_t identifiers[MAXIMUM_WORLD_PROC_SUBJECTS];
    if (maximum > MAXIMUM_WORLD_PROC_SUBJECTS) maximum = MAXIMUM_WORLD_PROC_SUBJECTS;
    const int32_t count =
        get_combined_map_action_parameter(action_index, name, _parameter_monster_identifier, identifiers, maximum);
    if (identifier_count) *identifier_count = count;
    return monster_identifiers_to_monster_indexes(identifiers, indexes, count);
}
