#pragma once
// What the observer, the selection and the tutorial watcher ask of the
// overhead map (game/overhead_map), in one table the overhead map registers
// whole (`register_overhead_map_procedures`).  The overhead map is local: no
// member may change the game.
//
// Every member may be null, and each is until the overhead map registers its table; the
// default of a null member is said beside it.  The table is kept by pointer:
// register a static record.  A null table, or a second one, is refused with an
// assertion and changes nothing.
//
// Main thread only; register before the main loop starts.

#include "cseries/cseries.h"
#include "world.h"

struct action_data;

struct overhead_map_procedures
{
    // The ground corners of a view from `eye` with `yaw`, for the observer's
    // limited-visibility test; false when there are none (null member: the
    // test passes).
    bool (*view_projection_corners)(const world_point3d *eye, angle yaw, world_point2d corners[4]);
    // The world point of a press on the overhead map; false when the press was
    // not on it (null member: no press is on the map).
    bool (*click_location)(const action_data *action, world_point2d *location);
    // Whether the overhead map is fully shown, the tutorial's test case 1
    // (null member: it is not shown).
    bool (*map_is_shown)(void);
};

bool register_overhead_map_procedures(const overhead_map_procedures *procedures);
// Never null: an empty table until one is registered.
const overhead_map_procedures *get_overhead_map_procedures(void);
