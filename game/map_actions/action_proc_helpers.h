#pragma once
// What the map action procedures all do alike: name an entry, read a flag or
// a first value out of an action's entries, find a unit's object.  Private
// to the procedures (game/map_actions and the observer movement procedure).

#include <cstdint>

#include "map_action_parameters.h"
#include "map_actions.h"
#include "monsters.h"
#include "objects.h"

// An entry's four-character name.
constexpr field_tag field(char a, char b, char c, char d) { return FOUR_CHARACTER_CODE(a, b, c, d); }

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

// Replaces the action's own integer entry `name` with `value`.
inline void store_own_integer(int32_t action_index, field_tag name, int32_t value)
{
    set_unique_map_action_parameter(action_index, name, _parameter_integer, 1, &value);
}

// The object of a unit; null when the unit or its object is gone.
inline const object_data *monster_object(int32_t monster_index)
{
    const monster_data *monster = get_monster_data(monster_index);
    return monster ? get_object(monster->object_index) : nullptr;
}

// `index` is one of the first `count` of `indexes`.
inline bool list_holds(const int16_t *indexes, int32_t count, int16_t index)
{
    for (int32_t i = 0; i < count; i++)
        if (indexes[i] == index) return true;
    return false;
}

// `value` kept within the cells 0 .. size - 1.
inline int32_t clamp_cell(int32_t value, int32_t size)
{
    return value < 0 ? 0 : (value >= size ? size - 1 : value);
}

// Where a unit stands; false when the unit or its object is gone.
inline bool monster_position(int32_t monster_index, world_point2d *position)
{
    const object_data *object = monster_object(monster_index);
    if (!object) return false;
    *position = {object->location.position.x, object->location.position.y};
    return true;
}
