#pragma once
// What the units and the model effects ask of the map scripts, in one table
// the map-action library (game/map_actions) registers whole
// (`register_map_action_procedures`).  The members run inside the game tick.
//
// Every member may be null, and each is until the map actions register their table; the
// default of a null member is said beside it.  The table is kept by pointer:
// register a static record.  A null table, or a second one, is refused with an
// assertion and changes nothing.
//
// Main thread only; register before the main loop starts.

#include <cstdint>

struct map_action_procedures
{
    // The order or model effect that the script `map_action_identifier` (a
    // unit's internal command identifier) started is done: the script goes on
    // (null member: nothing).
    void (*map_action_succeeded)(int32_t map_action_identifier);
    // Makes the ambient-life script of a new unit; true when one was made
    // (null member: no unit gets a script).
    bool (*create_map_action_for_monster)(int32_t monster_index);
    // Deletes the script of a dying or removed unit (null member: nothing is
    // deleted).
    void (*delete_monster_map_action)(int32_t monster_index);
};

bool register_map_action_procedures(const map_action_procedures *procedures);
// Never null: an empty table until one is registered.
const map_action_procedures *get_map_action_procedures(void);
