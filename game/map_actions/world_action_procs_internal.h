#pragma once
// What the unit and world procedures share: reading flags, single values and
// unit lists out of an action's entries.  Private to those procedures.

#include <cstdint>

#include "map_action_parameters.h"
#include "map_actions.h"
#include "monster_lists.h"

namespace world_action_procs {

constexpr field_tag field(char a, char b, char c, char d) { return FOUR_CHARACTER_CODE(a, b, c, d); }

enum { MAXIMUM_WORLD_PROC_SUBJECTS = 400 };

// A flag entry is present (empty or not, links followed).
inline bool has_flag(int32_t action_index, field_tag name)
{
    return get_map_action_parameter(nullptr, action_index, _return_empty_arrays_flag, name, _parameter_flag);
}

// The first value of a 32-bit entry of `type`; false when absent or empty.
inline bool first_long(int32_t action_index, field_tag name, int16_t type, int32_t *value)
{
    return get_indexed_long_integer_parameter(action_index, name, type, value, 0);
}

// The first value of a 16-bit entry of `type`; false when absent or empty.
inline bool first_short(int32_t action_index, field_tag name, int16_t type, int16_t *value)
{
    return get_indexed_short_integer_parameter(action_index, name, type, value, 0);
}

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

} // namespace world_action_procs
