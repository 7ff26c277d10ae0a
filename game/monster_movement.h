#pragma once
// Unit movement: the moving action and the units' own mover.
//
// `monster_moving` is the action procedure of the four moving actions
// (moving, turning, holding for attack, aiming): it turns the unit toward its
// path destination, steps it, reacts to what the step struck and leaves
// footprints.  Units do not use the objects' general mover: `move_monster_object`
// steps a unit's object against the mesh border, other objects, obstructed
// cells, impassable terrain triangles and water.
//
// Simulation: integer arithmetic except the charge speed, an 80-bit extended
// step ending in a truncation; no vesk_random draws of its own (footprints use
// local_random).  Every rule is in docs/determinism.md ("Unit movement").
// Main thread only.

#include <cstdint>

#include "cseries/cseries.h"
#include "world.h"

// The action procedure of actions 4-7 (monster_action_fns).
void monster_moving(int32_t monster_index);

// One step of a unit's object along its velocity.  Returns the move_object_flags
// word (objects.h): 4 with the struck object's index in bits 16-31, 8 a second
// object (no move), 16 a cell or terrain stopped or deflected the step, 32
// clamped at the mesh border, 64 one of the two objects is permeable, 128
// changed cells, 256 entered and 512 left media.  0 for an object that is not a
// unit's, pauses or has no horizontal velocity.  Sets the unit's
// _monster_actually_moved_extra_flag when the position changed.
int32_t move_monster_object(int32_t object_index);

// The height of a unit's object at `new_position`: the ground, or the media
// surface for a floating object over media, or, for an object keeping its
// height, the surface plus `current_height_above_mesh` (MESH_NO_HEIGHT when
// there is no surface there).  `new_position_over_media`, when given, tells
// whether the point lies over media.
world_distance get_height_for_new_position(const world_point2d *new_position, bool floats,
                                           bool maintain_constant_height, int16_t current_height_above_mesh,
                                           bool *new_position_over_media);

// Puts the unit's object at the height of its position (projectiles call it,
// through their registration point, for an owner stepping out of hiding).
void update_monster_location_height(int32_t monster_index);

// The speed a charging unit gains over speed `speed` when its definition's
// charge byte (signed entry 8 of terrain_costs) is `charge_byte`: speed / 5
// for a byte below 1, else speed x (byte / 100) in 80-bit extended precision,
// truncated toward zero.
int32_t monster_charge_speed_gain(int32_t speed, int8_t charge_byte);

// arctangent(dx, dy), the heading of a unit toward a point (dx, dy) away.
// The last question and its answer are kept: a unit that plans heads for its
// new destination and, in the same update, re-aims at it from the same place.
angle heading_toward(world_distance dx, world_distance dy);

// Fills the moving actions' slots of monster_action_fns (idempotent;
// initialize_monsters calls it).
void install_monster_movement_procedures(void);

