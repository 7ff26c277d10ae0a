#pragma once
// Platoon movement ('plmo', 'plsc'): platoons marching along interpolated waypoints and scouting.
//
// One procedure for both tags, run as the current state action of a
// platoon (group_action_procs.h).  Each trigger decides a substate ('#sub':
// moving, scouting, avoiding, attacking) and moves the platoon's squads:
// along the waypoints 'wayp', optionally through evenly spaced points
// between them ('ntrp', 'spac'), one point per arrival of every squad; at
// the nearest enemy group ('plmo', inside its guard radii); or to the edge
// of an enemy group's range ('plsc').  Lock-step simulation: the draws and
// their order are in docs/determinism.md ("Groups and platoons").

#include <cstdint>

#include "world.h"

enum
{
    MAXIMUM_PLATOON_WAYPOINTS = 32,
    DEFAULT_INTERPOLANT_SPACING = 512,
};

// '#sub' of a platoon state action (NONE when just made current).
enum platoon_movement_substate
{
    _substate_moving = 0,
    _substate_scouting,
    _substate_avoiding,
    _platoon_substate_attacking,
};

// Always 0; the end of the waypoints is reported by set_map_action_success.
uint32_t platoon_movement_action_proc(int32_t action_index);

// The intermediate points of leg `waypoint_index` (from waypoint - 1 to
// waypoint; the last leg ends at waypoint 0 with 'loop', at its own start
// without): 1 for a leg of length 0, else the length / 'spac' (512 when
// absent, 0 for a spacing of 0 or less).  0, and false, for an index outside
// 1..count or an action without waypoints.
bool compute_number_of_interpolated_waypoints(int32_t action_index, int32_t waypoint_index, int32_t *count);
// Point `intermediate_index` of `intermediates` on leg `waypoint_index`:
// start + (end - start) * f >> 8 with f = (intermediate << 8) / intermediates
// as 16 bits (0 for no intermediates).  False, with the point untouched,
// when the leg does not exist.
bool interpolate_waypoint(int32_t action_index, int32_t waypoint_index, int32_t intermediate_index,
                          int32_t intermediates, world_point2d *point);

// The turn a scout adds to the direction towards the group it watches, from
// v = that direction - the reference direction (plain difference,
// -65535..65535): -v within half a turn, else v - half a turn when v is
// above it, v + half a turn when below; always within 4096 of 0 (the last
// case only from below).
int32_t scouting_correction(int32_t v);
