#pragma once
// Formations: slot layouts of the ten formation types and their per-map life.
//
// A movement order with the formation flag carries its formation type (0..9);
// the executor lays that formation's slots out around each waypoint, facing
// the way the group walks (or the order's final facing at the last waypoint),
// and gives each unit one slot for the whole order.  Everything here is
// simulation: integers only, no random draws, slots always inside the mesh.
// The layouts and the assignment are in docs/determinism.md ("Formations").
// A fresh formation identifier and the default type come from the unit
// record (get_formation_identifier, get_default_formation_index, monsters.h).
//
// Main thread only.

#include <cstdint>

#include "cseries/cseries.h"
#include "world.h"

enum formation_type
{
    _formation_short_line = 0,
    _formation_long_line,
    _formation_loose_line,
    _formation_staggered_line,
    _formation_box,
    _formation_mob,
    _formation_shallow_encirclement,
    _formation_deep_encirclement,
    _formation_vanguard,
    _formation_circle,
    NUMBER_OF_FORMATION_TYPES // 10
};

enum
{
    FORMATION_SPACING = 256,           // world units between neighbouring slots
    MAXIMUM_UNITS_PER_FORMATION = 126, // the largest unit list of a command
};

// True for 0..9.
bool valid_formation_index(int32_t formation_index);
// "short line" ... "circle"; "none" for anything else.
const char *get_formation_name(int32_t formation_index);

// The slots of `count` units (1..MAXIMUM_UNITS_PER_FORMATION) of formation
// `formation_index` around `destination`, facing `facing`, into `slots`
// (`count` entries), each clamped into the mesh.  The same arguments always
// give the same slots.  False (nothing written) for an invalid formation or
// count.
bool build_formation_slots(int32_t formation_index, int32_t count, const world_point2d *destination, angle facing,
                           world_point2d *slots);

// Gives each of `count` units one of the slots: slot k, in slot order, goes
// to the unit not yet placed whose offset from `centre` (the group's centre)
// is closest to slot k's offset from the slots' own centre (squared
// distances in 64 bits; a tie goes to the earlier unit).  `positions` are the
// units' positions; `slot_of_unit` receives each unit's slot.
void assign_formation_slots(int32_t count, const world_point2d *positions, const world_point2d *centre,
                            const world_point2d *slots, int16_t *slot_of_unit);

// Start-up, and the per-map pair (registered as the formations' map stores).
bool initialize_formations(void);
bool initialize_formations_for_new_map(void);
void dispose_formations_from_old_map(void);
