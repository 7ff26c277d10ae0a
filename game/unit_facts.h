#pragma once
// What the core asks about a unit before the unit layer exists.  Services
// that later subsystems call with a unit (the damage statistics, alliances between
// units, a unit pushing a ball) need a few facts of it: its unit type for the
// statistics, its team, its owner, its object and where it stands.  The unit
// layer registers the procedure that answers; until then no unit exists, and
// those services refuse or do nothing.
//
// Simulation thread only.

#include "cseries/cseries.h"
#include "world.h"

// Unit indexes run from 0 to below this (the size of the units' array).
enum
{
    MAXIMUM_UNIT_INDEX_COUNT = 400,
};

struct unit_facts
{
    int16_t unit_type;    // the statistics' unit type (map palette entry); NONE: counted for nobody
    int16_t team_index;   // NONE: the unit belongs to no team (ambient life)
    int16_t player_index; // NONE: no player owns it
    int32_t object_index; // its object; NONE when it has none now (a unit waiting off the map may come back)
    world_point3d position;
    int16_t ambient_life; // 1: made from an ambient-life marker: its team counts it for no strength
};

// Fills `facts` for the unit at `unit_index` (a "monster" data-array index);
// false when no unit lives there.
typedef bool (*unit_facts_procedure)(int32_t unit_index, unit_facts *facts);

// The unit layer's answer.  Refused (assertion, the first kept) for a null
// procedure or when one is registered already.
bool register_unit_facts_procedure(unit_facts_procedure procedure);


// The facts of the unit at `unit_index`.  False, with `facts` untouched, when
// no unit layer is registered or it knows no such unit.
bool get_unit_facts(int32_t unit_index, unit_facts *facts);
