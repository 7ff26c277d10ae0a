#pragma once
// Order functions: how an order turns into a unit's waypoints, target
// location, retreat point and facing.  Everything here runs inside the tick:
// integers only and no random draws (docs/determinism.md, "Orders").

#include "cseries/cseries.h"
#include "world.h"

// The yaw that faces `destination` from `position`; `yaw` unchanged when the
// two points coincide (there is no direction to face).
angle adjust_yaw_for_destination(angle yaw, const world_point2d *destination, const world_point2d *position);

// Distance of a retreat point from the unit.
enum
{
    MONSTER_RETREAT_DISTANCE = 2 * WORLD_ONE,
};

// Clamps a point into the mesh: 0 .. mesh size x 512 - 1 on each axis (the
// origin when no mesh is loaded).
void clamp_point_to_mesh(world_point2d *point);

enum
{
    // A unit whose step reaches this band along the mesh's border leaves the
    // game (MESH_BAND in monster_movement.cpp).
    MESH_EDGE_BAND = 992,
    // The playable area keeps a cell inside that band: a walking unit re-aims
    // only every few steps and may pass its destination by some way, and one
    // at its destination may be pushed on by another.
    PLAYABLE_AREA_INSET = MESH_EDGE_BAND + WORLD_ONE,
};

// Clamps a point into the playable area: PLAYABLE_AREA_INSET .. mesh size x
// 512 - 1 - PLAYABLE_AREA_INSET on each axis (the middle of an axis too
// short for it).  A player's order sends its units no further from 1840.
void clamp_point_to_playable_area(world_point2d *point);

// Gives the unit `count` waypoints (cut to 0..4, each clamped into the mesh)
// to walk from the first: the waypoint index and the loop flags start again,
// any target, target location, pick-up, stop and stand-ground order is
// dropped, and the unit plans a new path on its next update.  With
// `has_final_yaw` it turns to `final_yaw` at the end.  The order flags
// (responding to a command, received a user command, looping) are the
// caller's.  A free slot is ignored.
void set_monster_waypoints(int32_t monster_index, int32_t count, const world_point2d *points, bool has_final_yaw,
                           angle final_yaw);

// Target-location flags (the attack-location command's own flag bits).
enum
{
    _target_location_special_ability_flag = 0x1,       // the attack uses the special ability
    _target_location_ignore_model_collision_flag = 0x2, // shoot without testing models in the way
};

// Makes the unit attack the ground at `point` (its height in z; clamped into
// the mesh): target location, valid target and valid target location set,
// the target unit, waypoints, pick-up, stop and stand-ground order dropped;
// it plans on its next update.  `flags` are the target-location flags above.
// A free slot is ignored.
void set_monster_target_location(int32_t monster_index, const world_point3d *point, uint32_t flags);

// A point MONSTER_RETREAT_DISTANCE away from `threat`, straight back from it
// through the unit's position (from a unit standing on the threat: behind its
// facing), clamped into the mesh (from 1840 into the playable area), into
// `destination`, and the surface height
// there into `height` (may be null).  No draws.  False, with `destination`
// unchanged, for a free slot or a unit without an object.
bool generate_point_of_retreat(int32_t monster_index, const world_point2d *threat, world_point2d *destination,
                               world_distance *height);
